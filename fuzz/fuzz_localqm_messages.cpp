// Any bytes as a queue's messages file, read the ways localqm reads one:
// scanned in memory, browsed from the file (each whole message's header and
// first data bytes handed on), and appended to by a put, first at MaxDepth,
// then below it. Beyond the sanitizers' checks: the ways agree, browse hands
// on exactly the file's whole messages, and a put leaves the file's whole
// messages as they were with its own record after them (a torn tail cut
// off), or refuses and leaves every byte as it was.
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "localqm/admin.h"
#include "localqm/messages_file.h"
#include "localqm/names.h"
#include "mqi/mqi.h"

namespace {

using namespace localqm;

constexpr size_t kDataLimit = 16;

const std::string& Root() {
  static const std::string root = [] {
    std::string root = fuzz::ScratchFolder() + "/qmgrs";
    std::string error;
    if (!CreateQmgr(root, "QM", false, &error) ||
        !DefineQueue(root, "QM", "Q", Attributes(), &error)) {
      fprintf(fuzz::Log(), "%s\n", error.c_str());
      abort();
    }
    return root;
  }();
  return root;
}

const std::string& Path() {
  static const std::string path =
      MessagesPath(QueueFolder(QmgrFolder(Root(), "QM"), "Q"));
  return path;
}

uint32_t LE32At(const uint8_t* bytes) {
  return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 |
         (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

// One record as a put appends it.
std::string NewRecord() {
  std::string record(4 + kHeaderSize + 4, '\0');
  uint32_t body = kHeaderSize + 4;
  for (int i = 0; i < 4; i++) record[i] = (char)(body >> (8 * i));
  memcpy(&record[4], MQXQH_STRUC_ID, 4);
  memcpy(&record[4 + kHeaderSize], "fuzz", 4);
  return record;
}

int32_t Put(const std::string& record, int64_t max_depth) {
  platform::ConstBuffer part = {record.data(), record.size()};
  MessagesFile file(Path());
  return file.Append(&part, 1, record.size(), max_depth, false);
}

void CheckBrowse(const uint8_t* data, size_t size, const ScanResult& scan) {
  std::vector<BrowsedMessage> shown;
  ScanResult end;
  std::string error;
  bool ok = BrowseQueue(
      Root(), "QM", "Q", kDataLimit,
      [&](const BrowsedMessage& message) { shown.push_back(message); }, &end,
      &error);
  bool damaged = scan.status == ScanStatus::kDamaged;
  FUZZ_CHECK(ok == !damaged);
  FUZZ_CHECK(end.status == scan.status && end.records == scan.records &&
             end.whole_end == scan.whole_end);
  FUZZ_CHECK(shown.size() == scan.records);
  uint64_t at = 0;
  for (size_t i = 0; i < shown.size(); i++) {
    const BrowsedMessage& m = shown[i];
    FUZZ_CHECK(m.number == i + 1 && m.offset == at);
    uint32_t body = LE32At(data + at);
    FUZZ_CHECK(body >= kHeaderSize && at + 4 + body <= size);
    FUZZ_CHECK(m.data_length == body - kHeaderSize);
    FUZZ_CHECK(memcmp(&m.header, data + at + 4, kHeaderSize) == 0);
    size_t start = m.data_length < kDataLimit ? m.data_length : kDataLimit;
    FUZZ_CHECK(m.data_start ==
               std::string((const char*)data + at + 4 + kHeaderSize, start));
    at += 4 + body;
  }
  FUZZ_CHECK(at == scan.whole_end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScanResult scan = ScanMessages(data, size);
  FUZZ_CHECK(scan.whole_end <= size);
  FUZZ_CHECK((scan.status == ScanStatus::kEnd) == (scan.whole_end == size));
  FUZZ_CHECK(scan.status != ScanStatus::kReadFailed);

  fuzz::WriteFileBytes(Path(), data, size);
  CheckBrowse(data, size, scan);

  const std::string before((const char*)data, size);
  const std::string record = NewRecord();
  if (scan.status == ScanStatus::kDamaged) {
    FUZZ_CHECK(Put(record, 1 << 30) == MQRC_RESOURCE_PROBLEM);
    FUZZ_CHECK(fuzz::ReadFileBytes(Path()) == before);
    return 0;
  }
  FUZZ_CHECK(Put(record, (int64_t)scan.records) == MQRC_Q_FULL);
  FUZZ_CHECK(fuzz::ReadFileBytes(Path()) == before);
  FUZZ_CHECK(Put(record, (int64_t)scan.records + 1) == MQRC_NONE);
  FUZZ_CHECK(fuzz::ReadFileBytes(Path()) ==
             before.substr(0, scan.whole_end) + record);
  return 0;
}
