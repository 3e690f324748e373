// End to end: the built msgreplay against localqm in a scratch root. Each
// case compares standard output, standard error and the exit status byte for
// byte, and reads the queue's messages file back.
//
// MSGREPLAY_COMMAND  how to start the program (default: the native build's);
//                    e.g. "wine /path/msgreplay.exe"
// MSGREPLAY_PLATFORM "windows" to expect what a Windows build gives: CR LF
//                    line ends, error number 13 for a directory, and only
//                    the low 8 bits of a status (as Wine passes them on)
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/expected_output.h"
#include "tests/record_builder.h"
#include "tests/run_program.h"

namespace fs = std::filesystem;
using namespace testing_records;

namespace {

bool OnWindows() {
  const char* platform = getenv("MSGREPLAY_PLATFORM");
  return platform != nullptr && strcmp(platform, "windows") == 0;
}

std::string ProgramCommand() {
  const char* command = getenv("MSGREPLAY_COMMAND");
  if (command != nullptr && *command != '\0') return command;
  return Quote(MSGREPLAY_PROGRAM);
}

std::string Console(const std::string& text) {
  return OnWindows() ? WithCrLf(text) : text;
}

int ConnectStatus(int reason) {
  if (OnWindows()) return reason & 0xFF;
  return (reason & 0xFF) == 0 ? 255 : reason & 0xFF;
}

int DirectoryErrno() { return OnWindows() ? 13 : 21; }

std::string Padded(const std::string& name) {
  return name + std::string(48 - name.size(), ' ');
}

// One message as the queue's messages file holds it.
struct Stored {
  std::string header;  // 428 bytes
  std::string data;
};

std::vector<Stored> ReadQueue(const fs::path& messages) {
  std::vector<Stored> stored;
  const std::string bytes = ReadFile(messages.string());
  size_t at = 0;
  while (at + 4 <= bytes.size()) {
    uint32_t length = 0;
    for (int i = 3; i >= 0; i--)
      length = (length << 8) | static_cast<unsigned char>(bytes[at + i]);
    EXPECT_GE(length, 428u);
    EXPECT_LE(at + 4 + length, bytes.size()) << "a torn message";
    if (length < 428 || at + 4 + length > bytes.size()) break;
    stored.push_back(
        {bytes.substr(at + 4, 428), bytes.substr(at + 432, length - 428)});
    at += 4 + length;
  }
  EXPECT_EQ(at, bytes.size()) << "stray bytes after the last message";
  return stored;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        ("msgreplay_e2e_" +
         std::string(
             ::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    root_ = dir_ / "qmgrs";
    buffer_ = (dir_ / "messages.buf").string();
    SetEnv("LOCALQM_ROOT", root_.string());
    Localqm({"create", "QM1"});
    Localqm({"define", "QM1", "TARGET.Q"});
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Localqm(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--root", root_.string()};
    all.insert(all.end(), args.begin(), args.end());
    fs::create_directories(dir_ / "localqm");
    RunResult r = RunProgram(Quote(LOCALQM_PROGRAM), all, dir_ / "localqm");
    ASSERT_EQ(r.status, 0) << r.err;
  }

  std::string Settings(const std::string& queue, const std::string& qmgr,
                       const std::string& buffer) {
    std::string path = (dir_ / "channel.ini").string();
    WriteFile(path, "MessageBufferFile=" + buffer + "\r\nInQueue=" + queue +
                        "\r\nOutQueue=REPLY.Q\r\nQueueMgr=" + qmgr + "\r\n");
    return path;
  }

  RunResult Replay(const std::vector<std::string>& args) {
    return RunProgram(ProgramCommand(), args, dir_);
  }

  std::vector<Stored> Queue(const std::string& name = "TARGET.Q") {
    return ReadQueue(root_ / "QM1.qmgr" / (name + ".queue") / "messages");
  }

  fs::path dir_;
  fs::path root_;
  std::string buffer_;
};

const char kConnected[] = "\nConnecting to Queue Mgr: [QM1]\nConnected to QM1";

std::string Shown(const Message& m) {
  return ShownHeader(m.remote_q, m.remote_qmgr, m.reply_to_q, m.reply_to_qmgr,
                     m.msg_type, m.msg_id, m.correl_id, m.put_date, m.put_time);
}

std::string PutLine(int count) {
  return "\nMQPUT " + std::to_string(count) + " message in [TARGET.Q]";
}

TEST_F(EndToEnd, ReplaysEveryRecordOntoTheQueue) {
  Message datagram;
  datagram.msg_id = "DATAGRAM-1";
  datagram.data = std::string("text with a NUL \0 and \r\n inside", 32);
  Message request;
  request.msg_type = MQMT_REQUEST;
  request.msg_id = "REQUEST-2";
  request.correl_id = "CORREL-2";
  request.reply_to_q = "SAVED.REPLY";
  request.reply_to_qmgr = "SAVED.QM";
  request.data = "ping";
  Message persistent;
  persistent.msg_id = "PERSISTENT-3";
  persistent.persistence = MQPER_PERSISTENT;
  persistent.priority = 9;
  persistent.data = std::string(9572, 'p');  // the most a record can carry
  Message no_data;
  no_data.msg_id = "EMPTY-4";
  const std::vector<Message> records = {datagram, request, persistent, no_data};
  std::string file;
  for (const Message& m : records) file += Record(m);
  WriteFile(buffer_, file);

  RunResult r = Replay({Settings("TARGET.Q", "QM1", buffer_)});

  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Console(kConnected + Shown(datagram) + PutLine(1) +
                           Shown(request) + PutLine(2) + Shown(persistent) +
                           PutLine(3) + Shown(no_data)));
  EXPECT_EQ(r.status, 0);

  std::vector<Stored> stored = Queue();
  ASSERT_EQ(stored.size(), 3u);
  for (size_t i = 0; i < stored.size(); i++) {
    SCOPED_TRACE(i);
    const std::string saved = Header(records[i]);
    const std::string& got = stored[i].header;
    EXPECT_EQ(got.substr(0, 8), std::string("XQH \x01\0\0\0", 8));
    EXPECT_EQ(got.substr(8, 48), Padded("TARGET.Q"));
    EXPECT_EQ(got.substr(56, 48), Padded("QM1"));
    // Up to BackoutCount the descriptor is the record's own.
    EXPECT_EQ(Hex(got.substr(104, 96)), Hex(saved.substr(104, 96)));
    EXPECT_EQ(got.substr(204, 48), Padded("REPLY.Q"));
    EXPECT_EQ(got.substr(252, 48), Padded("QM1"));
    EXPECT_EQ(stored[i].data, records[i].data);
  }
}

struct Outcome {
  const char* name;
  std::vector<std::string> localqm;  // set up before the run
  std::string queue, qmgr;
  std::string file;  // the buffer file's bytes
  std::string out;   // after the Connecting line
  int status;
  size_t stored;
};

TEST_F(EndToEnd, EachFailureEndsWithItsOwnStatusAndKeepsWhatWasPut) {
  Message m;
  m.data = "payload";
  const std::string one = Record(m);
  const std::string shown = Shown(m);
  const std::string connected = "\nConnected to QM1";
  const std::vector<Outcome> cases = {
      {"unknown queue manager",
       {},
       "TARGET.Q",
       "NOPE",
       one,
       "MQCONN ended with reason code 2058\n",
       ConnectStatus(2058),
       0},
      {"unknown queue",
       {},
       "NO.SUCH.Q",
       "QM1",
       one,
       connected + "\nMQOPEN ended with reason code 2085\n",
       1,
       0},
      {"queue full",
       {"define", "QM1", "SMALL.Q", "--max-depth", "1"},
       "SMALL.Q",
       "QM1",
       one + one,
       connected + shown + "\nMQPUT 1 message in [SMALL.Q]" + shown +
           "MQPUT ended with reason code 2053\n",
       0,
       1},
      {"put inhibited",
       {"define", "QM1", "SHUT.Q", "--put", "disabled"},
       "SHUT.Q",
       "QM1",
       one,
       connected + shown + "MQPUT ended with reason code 2051\n",
       0,
       0},
      {"record cut short",
       {},
       "TARGET.Q",
       "QM1",
       one + one.substr(0, 50),
       connected + shown + PutLine(1) + "\nRecord 2 at byte " +
           std::to_string(one.size()) + " is cut short: 46 of " +
           std::to_string(one.size() - 4) + " bytes",
       4,
       1},
      {"invalid length",
       {},
       "TARGET.Q",
       "QM1",
       one + LE32(0x7fffffff),
       connected + shown + PutLine(1) + "\nRecord 2 at byte " +
           std::to_string(one.size()) + " has an invalid length 2147483647",
       4,
       1},
  };
  for (const Outcome& c : cases) {
    SCOPED_TRACE(c.name);
    Localqm({"clear", "QM1", "TARGET.Q"});
    if (!c.localqm.empty()) Localqm(c.localqm);
    WriteFile(buffer_, c.file);
    RunResult r = Replay({Settings(c.queue, c.qmgr, buffer_)});
    EXPECT_EQ(r.out,
              Console("\nConnecting to Queue Mgr: [" + c.qmgr + "]" + c.out));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(Queue(c.queue).size(), c.stored);
  }
}

TEST_F(EndToEnd, StoppedQueueManagerRefusesTheConnect) {
  Localqm({"stop", "QM1"});
  WriteFile(buffer_, "");
  RunResult r = Replay({Settings("TARGET.Q", "QM1", buffer_)});
  EXPECT_EQ(r.out, Console("\nConnecting to Queue Mgr: [QM1]"
                           "MQCONN ended with reason code 2059\n"));
  EXPECT_EQ(r.status, ConnectStatus(2059));
}

TEST_F(EndToEnd, BufferFileThatCannotBeOpened) {
  const std::string missing = (dir_ / "missing.buf").string();
  for (const auto& c : {std::make_pair(missing, 2),
                        std::make_pair(dir_.string(), DirectoryErrno())}) {
    RunResult r = Replay({Settings("TARGET.Q", "QM1", c.first)});
    EXPECT_EQ(r.out,
              Console(std::string(kConnected) + "\nError opening [" + c.first +
                      "].  Error code: " + std::to_string(c.second)));
    EXPECT_EQ(r.status, 3);
  }
}

TEST_F(EndToEnd, MissingSettingsFileConnectsToTheDefaultQueueManager) {
  Localqm({"create", "DEFAULT.QM", "--default"});
  const std::string path = (dir_ / "absent.ini").string();
  RunResult r = Replay({path});
  EXPECT_EQ(r.err, Console("\nUnable to open " + path + ".  Error #: 2"));
  // An empty queue manager name is the default one; an empty queue name is
  // no queue.
  EXPECT_EQ(r.out, Console("\nConnecting to Queue Mgr: []\nConnected to "
                           "\nMQOPEN ended with reason code 2085\n"));
  EXPECT_EQ(r.status, 1);
}

TEST_F(EndToEnd, SettingsTooLongStopBeforeConnecting) {
  const std::string path = (dir_ / "channel.ini").string();
  WriteFile(path, "QueueMgr=" + std::string(49, 'M') + "\n");
  RunResult r = Replay({path});
  EXPECT_EQ(r.err, Console("\nQueueMgr [" + std::string(49, 'M') +
                           "] is longer than 48 characters"));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 5);
}

TEST_F(EndToEnd, WithoutAnArgumentTheDefaultSettingsFileIsRead) {
  // Under Wine the Windows default path reaches the same host file.
  const fs::path default_path = "/tmp/channel.ini";
  const fs::path saved = dir_ / "saved-channel.ini";
  const bool had_one = fs::exists(default_path);
  if (had_one) fs::copy_file(default_path, saved);
  Message m;
  m.data = "from the default settings";
  WriteFile(buffer_, Record(m));
  fs::copy_file(Settings("TARGET.Q", "QM1", buffer_), default_path,
                fs::copy_options::overwrite_existing);
  RunResult r = Replay({});
  if (had_one)
    fs::copy_file(saved, default_path, fs::copy_options::overwrite_existing);
  else
    fs::remove(default_path);
  EXPECT_EQ(r.out, Console(kConnected + Shown(m) + PutLine(1)));
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(Queue().size(), 1u);
  EXPECT_EQ(Queue()[0].data, m.data);
}

}  // namespace
