// A scratch localqm root with queue manager QM1 and queue TARGET.Q, made
// through localqm's library, for tests that run the built msgreplay against
// it; and the reading back of a queue's messages file, whole messages only.
//
// MSGREPLAY_COMMAND  how to start the program under test (default: the
//                    native build's); e.g. "wine /path/msgreplay.exe"
// MSGREPLAY_PLATFORM "windows" where that program is a Windows build: the
//                    expectations below then follow what Windows gives
#ifndef TESTS_REPLAY_FIXTURE_H
#define TESTS_REPLAY_FIXTURE_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "localqm/admin.h"
#include "localqm/names.h"
#include "tests/expected_output.h"
#include "tests/record_builder.h"
#include "tests/run_program.h"

namespace testing_records {

inline bool OnWindows() {
  const char* platform = getenv("MSGREPLAY_PLATFORM");
  return platform != nullptr && strcmp(platform, "windows") == 0;
}

inline std::string ProgramCommand() {
  const char* command = getenv("MSGREPLAY_COMMAND");
  if (command != nullptr && *command != '\0') return command;
  return Quote(MSGREPLAY_PROGRAM);
}

// Console text as the program under test writes it: CR LF on Windows.
inline std::string Console(const std::string& text) {
  return OnWindows() ? WithCrLf(text) : text;
}

// The status seen after a connect failed with reason: its low 8 bits (on
// Windows the whole code, of which Wine passes on the low 8 bits), and on
// POSIX 255 where those bits are 0.
inline int ConnectStatus(int reason) {
  if (OnWindows()) return reason & 0xFF;
  return (reason & 0xFF) == 0 ? 255 : reason & 0xFF;
}

// The error number of opening a directory as a file.
inline int DirectoryErrno() { return OnWindows() ? 13 : 21; }

// One message as a queue's messages file holds it.
struct Stored {
  std::string header;  // 428 bytes
  std::string data;
};

// The messages of a messages file. Every record must be whole and a
// message: a torn or stray byte fails the test that reads it. Where torn is
// given, a last record cut short is let through (a write that a killed
// process left half done, which the next put cuts off) and torn receives
// its bytes.
inline std::vector<Stored> ReadStored(const std::string& path,
                                      std::string* torn = nullptr) {
  std::vector<Stored> stored;
  const std::string bytes = ReadFile(path);
  size_t at = 0;
  uint32_t length = 0;
  while (at + 4 <= bytes.size()) {
    length = 0;
    for (int i = 3; i >= 0; i--)
      length = (length << 8) | static_cast<unsigned char>(bytes[at + i]);
    if (length < 428 || length > bytes.size() - at - 4) break;
    stored.push_back(
        {bytes.substr(at + 4, 428), bytes.substr(at + 4 + 428, length - 428)});
    at += 4 + length;
  }
  const bool cut_short = at + 4 > bytes.size() || length >= 428;
  if (torn != nullptr && cut_short) {
    *torn = bytes.substr(at);
    return stored;
  }
  EXPECT_EQ(at, bytes.size())
      << "a torn or damaged record at byte " << at << " of " << path;
  return stored;
}

inline std::string Padded(const std::string& name) {
  return name + std::string(name.size() < 48 ? 48 - name.size() : 0, ' ');
}

// The queue holds exactly these records' messages, in order: their data
// byte for byte, their descriptors as saved up to BackoutCount, and the
// reply-to pair that the run configured.
inline void ExpectQueueHolds(const std::vector<Stored>& stored,
                             const std::vector<Message>& records,
                             const std::string& queue = "TARGET.Q",
                             const std::string& reply_q = "REPLY.Q",
                             const std::string& qmgr = "QM1") {
  ASSERT_EQ(stored.size(), records.size());
  for (size_t i = 0; i < stored.size(); i++) {
    SCOPED_TRACE("message " + std::to_string(i + 1));
    const std::string saved = Header(records[i]);
    const std::string& got = stored[i].header;
    EXPECT_EQ(got.substr(0, 8), std::string("XQH \x01\0\0\0", 8));
    EXPECT_EQ(got.substr(8, 48), Padded(queue));
    EXPECT_EQ(got.substr(56, 48), Padded(qmgr));
    EXPECT_EQ(Hex(got.substr(104, 96)), Hex(saved.substr(104, 96)));
    EXPECT_EQ(got.substr(204, 48), Padded(reply_q));
    EXPECT_EQ(got.substr(252, 48), Padded(qmgr));
    EXPECT_EQ(stored[i].data, records[i].data);
  }
}

inline std::string ShownFor(const Message& m) {
  return ShownHeader(m.remote_q, m.remote_qmgr, m.reply_to_q, m.reply_to_qmgr,
                     m.msg_type, m.msg_id, m.correl_id, m.put_date, m.put_time);
}

inline std::string PutLine(int count, const std::string& queue = "TARGET.Q") {
  return "\nMQPUT " + std::to_string(count) + " message in [" + queue + "]";
}

inline std::string ConnectedTo(const std::string& qmgr = "QM1") {
  return "\nConnecting to Queue Mgr: [" + qmgr + "]\nConnected to " + qmgr;
}

// A message whose data tells it apart: "<tag>" and then filler up to size.
inline Message Numbered(const std::string& tag, size_t size = 40) {
  Message m;
  m.msg_id = tag;
  m.correl_id = "CORREL-" + tag;
  m.data = tag + ":";
  while (m.data.size() < size)
    m.data += static_cast<char>('a' + m.data.size() % 26);
  return m;
}

inline std::string FileOf(const std::vector<Message>& records) {
  std::string file;
  for (const Message& m : records) file += Record(m);
  return file;
}

class ReplayFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info =
        ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("msgreplay_" + std::string(info->test_suite_name()) + "_" +
            info->name() + "_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    root_ = (dir_ / "qmgrs").string();
    buffer_ = (dir_ / "messages.buf").string();
    SetEnv("LOCALQM_ROOT", root_);
    std::string error;
    ASSERT_TRUE(localqm::CreateQmgr(root_, "QM1", false, &error)) << error;
    Define("TARGET.Q");
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void Define(const std::string& queue,
              const localqm::Attributes& attributes = localqm::Attributes()) {
    std::string error;
    ASSERT_TRUE(localqm::DefineQueue(root_, "QM1", queue, attributes, &error))
        << error;
  }

  void Clear(const std::string& queue = "TARGET.Q") {
    std::string error;
    ASSERT_TRUE(localqm::ClearQueue(root_, "QM1", queue, &error)) << error;
  }

  std::string MessagesPath(const std::string& queue = "TARGET.Q") {
    return localqm::MessagesPath(
        localqm::QueueFolder(localqm::QmgrFolder(root_, "QM1"), queue));
  }

  std::vector<Stored> Queue(const std::string& queue = "TARGET.Q") {
    return ReadStored(MessagesPath(queue));
  }

  // A settings file naming the four values as given, each on its own line.
  std::string Settings(const std::string& buffer,
                       const std::string& queue = "TARGET.Q",
                       const std::string& reply_q = "REPLY.Q",
                       const std::string& qmgr = "QM1",
                       const std::string& name = "channel.ini") {
    std::string path = (dir_ / name).string();
    WriteFile(path, "MessageBufferFile=" + buffer + "\nInQueue=" + queue +
                        "\nOutQueue=" + reply_q + "\nQueueMgr=" + qmgr + "\n");
    return path;
  }

  RunResult Replay(const std::string& settings) {
    return Replay(std::vector<std::string>{settings});
  }
  RunResult Replay(const std::vector<std::string>& args) {
    return RunProgram(ProgramCommand(), args, dir_);
  }

  std::filesystem::path dir_;
  std::string root_;
  std::string buffer_;
};

}  // namespace testing_records

#endif  // TESTS_REPLAY_FIXTURE_H
