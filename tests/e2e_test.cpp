// End to end: the built msgreplay against localqm in a scratch root. Each
// case compares standard output, standard error and the exit status byte for
// byte, and reads the queue's messages file back. The same cases run against
// the Windows build under Wine (MSGREPLAY_COMMAND, MSGREPLAY_PLATFORM: see
// replay_fixture.h).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/replay_fixture.h"

namespace fs = std::filesystem;
using namespace testing_records;

namespace {

class EndToEnd : public ReplayFixture {
 protected:
  // A settings file with CR LF line ends, as a Windows editor writes it.
  std::string CrLfSettings(const std::string& buffer,
                           const std::string& queue = "TARGET.Q",
                           const std::string& qmgr = "QM1") {
    std::string path = Settings(buffer, queue, "REPLY.Q", qmgr);
    WriteFile(path, WithCrLf(ReadFile(path)));
    return path;
  }

  // The localqm program, as a user sets up a queue manager.
  void Localqm(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--root", root_};
    all.insert(all.end(), args.begin(), args.end());
    fs::create_directories(dir_ / "localqm");
    RunResult r = RunProgram(Quote(LOCALQM_PROGRAM), all, dir_ / "localqm");
    ASSERT_EQ(r.status, 0) << r.err;
  }
};

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
  WriteFile(buffer_, FileOf({datagram, request, persistent, no_data}));

  RunResult r = Replay({CrLfSettings(buffer_), "ignored", "arguments"});

  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            Console(ConnectedTo() + ShownFor(datagram) + PutLine(1) +
                    ShownFor(request) + PutLine(2) + ShownFor(persistent) +
                    PutLine(3) + ShownFor(no_data)));
  EXPECT_EQ(r.status, 0);
  ExpectQueueHolds(Queue(), {datagram, request, persistent});
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
  const std::string shown = ShownFor(m);
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
       connected + shown + PutLine(1, "SMALL.Q") + shown +
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
    Clear();
    if (!c.localqm.empty()) Localqm(c.localqm);
    WriteFile(buffer_, c.file);
    RunResult r = Replay(CrLfSettings(buffer_, c.queue, c.qmgr));
    EXPECT_EQ(r.out,
              Console("\nConnecting to Queue Mgr: [" + c.qmgr + "]" + c.out));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(ReadStored(MessagesPath(c.queue)).size(), c.stored);
  }
}

TEST_F(EndToEnd, StoppedQueueManagerRefusesTheConnect) {
  Localqm({"stop", "QM1"});
  WriteFile(buffer_, "");
  RunResult r = Replay(CrLfSettings(buffer_));
  EXPECT_EQ(r.out, Console("\nConnecting to Queue Mgr: [QM1]"
                           "MQCONN ended with reason code 2059\n"));
  EXPECT_EQ(r.status, ConnectStatus(2059));
}

TEST_F(EndToEnd, BufferFileThatCannotBeOpened) {
  const std::string missing = (dir_ / "missing.buf").string();
  for (const auto& c : {std::make_pair(missing, 2),
                        std::make_pair(dir_.string(), DirectoryErrno())}) {
    RunResult r = Replay(CrLfSettings(c.first));
    EXPECT_EQ(r.out, Console(ConnectedTo() + "\nError opening [" + c.first +
                             "].  Error code: " + std::to_string(c.second)));
    EXPECT_EQ(r.status, 3);
  }
}

TEST_F(EndToEnd, MissingSettingsFileConnectsToTheDefaultQueueManager) {
  Localqm({"create", "DEFAULT.QM", "--default"});
  const std::string path = (dir_ / "absent.ini").string();
  RunResult r = Replay(path);
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
  RunResult r = Replay(path);
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
  m.msg_id = "DEFAULT-SETTINGS";
  m.data = "from the default settings";
  WriteFile(buffer_, Record(m));
  fs::copy_file(CrLfSettings(buffer_), default_path,
                fs::copy_options::overwrite_existing);
  RunResult r = Replay(std::vector<std::string>{});
  if (had_one)
    fs::copy_file(saved, default_path, fs::copy_options::overwrite_existing);
  else
    fs::remove(default_path);
  EXPECT_EQ(r.out, Console(ConnectedTo() + ShownFor(m) + PutLine(1)));
  EXPECT_EQ(r.status, 0);
  ExpectQueueHolds(Queue(), {m});
}

}  // namespace
