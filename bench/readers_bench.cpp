// Microbenchmarks of the tool's two readers: the record reader with its
// header lines (standard output goes to /dev/null, fully buffered as the
// tool sets it when redirected) and the settings reader. The report goes to
// standard error, since standard output is the readers' own.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "buffer_file/buffer_file.h"
#include "buffer_file/input_file.h"
#include "settings/channel_settings.h"
#include "tests/record_builder.h"

using namespace testing_records;

namespace {

const int kRecordsInFile = 4096;
char StdoutBuffer[1 << 16];

std::string TempPath(const char* name) {
  const char* dir = getenv("TMPDIR");
  return std::string(dir != nullptr && *dir ? dir : "/tmp") + "/" + name + "." +
         std::to_string(getpid());
}

// A buffer file of kRecordsInFile records of data_bytes each, all of whose
// header fields are filled, so each shown line is at its longest.
std::string MakeBufferFile(int data_bytes) {
  std::string path = TempPath("readers_bench.buf");
  Message m;
  m.remote_q = "ORDERS.IN.FROM.THE.BRANCH.OFFICE";
  m.remote_qmgr = "BRANCH.QM";
  m.msg_type = MQMT_REQUEST;
  m.msg_id = "MSG-0000000001";
  m.correl_id = "SESSION-42";
  m.reply_to_q = "PRICES.REPLY.HQ";
  m.reply_to_qmgr = "HQ.QM";
  m.data = std::string(static_cast<size_t>(data_bytes), 'x');
  Bytes record = Record(m);
  FILE* out = fopen(path.c_str(), "wb");
  for (int i = 0; i < kRecordsInFile; i++)
    fwrite(record.data(), 1, record.size(), out);
  fclose(out);
  return path;
}

void BM_ReadNextRecord(benchmark::State& state) {
  std::string path = MakeBufferFile(static_cast<int>(state.range(0)));
  BufferFile = OpenInputFile(path.c_str());
  RecordNumber = 0;
  for (auto _ : state) {
    if (ReadNextRecord(&RecordLength, RecordBuffer) != RECORD_READ) {
      state.PauseTiming();
      rewind(BufferFile);
      RecordNumber = 0;
      state.ResumeTiming();
      ReadNextRecord(&RecordLength, RecordBuffer);
    }
  }
  fflush(stdout);
  fclose(BufferFile);
  BufferFile = nullptr;
  remove(path.c_str());
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * (4 + 428 + state.range(0)));
}
BENCHMARK(BM_ReadNextRecord)->Arg(0)->Arg(512)->Arg(9572);

// The bundled example's settings, and the same behind 200 lines that are
// passed over (comments and unknown keys), the longest a file is likely to be.
void BM_ReadChannelSettings(benchmark::State& state) {
  std::string path = TempPath("readers_bench.ini");
  std::string text;
  for (int i = 0; i < state.range(0); i++)
    text += i % 2 ? "; a comment line that the reader passes over\r\n"
                  : "Unknown" + std::to_string(i) + "=value\r\n";
  text +=
      "[msgreplay example]\r\nMessageBufferFile=examples/messages.buf\r\n"
      "InQueue=REPLAY.IN\r\nOutQueue=REPLAY.REPLIES\r\nQueueMgr=DEMO.QM\r\n";
  WriteFile(path, text);
  snprintf(SettingsPath, sizeof SettingsPath, "%s", path.c_str());
  for (auto _ : state) {
    ReadChannelSettings();
    benchmark::DoNotOptimize(ChannelSettings);
  }
  remove(path.c_str());
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadChannelSettings)->Arg(0)->Arg(200);

}  // namespace

int main(int argc, char** argv) {
  if (freopen("/dev/null", "w", stdout) == nullptr) return 1;
  setvbuf(stdout, StdoutBuffer, _IOFBF, sizeof StdoutBuffer);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::ConsoleReporter reporter(
      isatty(2) ? benchmark::ConsoleReporter::OO_ColorTabular
                : benchmark::ConsoleReporter::OO_Tabular);
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
