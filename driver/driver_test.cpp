// The driver, linked with a recording MQI: the calls it makes, what it
// passes, how it reacts to each outcome, what it prints and how it ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/expected_output.h"
#include "tests/record_builder.h"
#include "tests/run_program.h"

namespace fs = std::filesystem;
using namespace testing_records;

namespace {

#ifdef _WIN32
const int kDirectoryErrno = 13;
#else
const int kDirectoryErrno = 21;
#endif

// What the platform's text-mode output makes of a line feed.
std::string Console(const std::string& text) {
#ifdef _WIN32
  return WithCrLf(text);
#else
  return text;
#endif
}

// The exit status a connect's reason code gives.
int ConnectStatus(int reason) {
#ifdef _WIN32
  return reason;
#else
  return (reason & 0xFF) == 0 ? 255 : reason & 0xFF;
#endif
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        ("driver_test_" +
         std::string(
             ::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    log_ = (dir_ / "calls.log").string();
    buffer_ = (dir_ / "messages.buf").string();
    SetEnv("RECORDING_MQI_LOG", log_);
    UnsetEnv("RECORDING_MQI_CONN");
    UnsetEnv("RECORDING_MQI_OPEN");
    UnsetEnv("RECORDING_MQI_PUTS");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string WriteSettings(const std::string& text) {
    std::string path = (dir_ / "channel.ini").string();
    WriteFile(path, text);
    return path;
  }

  std::string StandardSettings() {
    return WriteSettings("MessageBufferFile=" + buffer_ +
                         "\nInQueue=TARGET.Q\nOutQueue=REPLY.Q\n"
                         "QueueMgr=QM1\n");
  }

  RunResult Run(const std::vector<std::string>& args) {
    return RunProgram(Quote(MSGREPLAY_RECORDING), args, dir_);
  }

  std::vector<std::string> Calls() {
    std::vector<std::string> calls;
    std::istringstream in(ReadFile(log_));
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    return calls;
  }

  fs::path dir_;
  std::string log_;
  std::string buffer_;
};

// The bytes of the descriptor that a put of m must pass: the record's own,
// with only the reply-to pair replaced, then the version-2 initial values.
std::string ExpectedPutDesc(const Message& m, const std::string& reply_q,
                            const std::string& reply_qm) {
  std::string md = Header(m).substr(104, 324);
  PutText(md, 100, 48, reply_q + std::string(1, '\0'));
  PutText(md, 148, 48, reply_qm + std::string(1, '\0'));
  std::string v2(40, '\0');
  PutLE32(v2, 24, 1);
  PutLE32(v2, 36, -1);
  return md + v2;
}

TEST_F(DriverTest, ReplaysEveryRecordWithItsOwnDescriptor) {
  Message datagram;
  datagram.msg_id = "ID-ONE";
  datagram.reply_to_q = "SAVED.REPLY.Q";
  datagram.reply_to_qmgr = "SAVED.QM";
  datagram.data = std::string("hello\0world", 11);
  Message header_only;  // exactly 428 bytes: shown, not put
  header_only.msg_type = MQMT_REPORT;
  Message request;
  request.msg_type = MQMT_REQUEST;
  request.msg_id = std::string("\0hidden", 7);
  request.correl_id = "CORREL";
  request.persistence = MQPER_PERSISTENT;
  request.priority = 7;
  request.data = "ping";
  WriteFile(buffer_, Record(datagram) + Record(header_only) + Record(request));

  RunResult r = Run({StandardSettings(), "ignored", "arguments"});

  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(
      r.out,
      Console("\nConnecting to Queue Mgr: [QM1]\nConnected to QM1" +
              ShownHeader("REMOTE.Q", "REMOTE.QM", "SAVED.REPLY.Q", "SAVED.QM",
                          8, "ID-ONE", "", "20261211", "11223344") +
              "\nMQPUT 1 message in [TARGET.Q]" +
              ShownHeader("REMOTE.Q", "REMOTE.QM", "", "", 4, "", "",
                          "20261211", "11223344") +
              ShownHeader("REMOTE.Q", "REMOTE.QM", "", "", 1, "", "CORREL",
                          "20261211", "11223344") +
              "\nMQPUT 2 message in [TARGET.Q]"));

  MQOD od = MQOD_DEFAULT;
  memcpy(od.ObjectName, "TARGET.Q", 9);
  MQPMO pmo = MQPMO_DEFAULT;
  const std::string od_hex =
      Hex(std::string(reinterpret_cast<char*>(&od), sizeof od));
  const std::string pmo_hex =
      Hex(std::string(reinterpret_cast<char*>(&pmo), sizeof pmo));
  std::vector<std::string> expected = {
      "MQCONN name=QM1", "MQOPEN hconn=4660 options=2010 od=" + od_hex,
      "MQPUT hconn=4660 hobj=22136 length=11 md=" +
          Hex(ExpectedPutDesc(datagram, "REPLY.Q", "QM1")) + " pmo=" + pmo_hex +
          " data=" + Hex(datagram.data),
      "MQPUT hconn=4660 hobj=22136 length=4 md=" +
          Hex(ExpectedPutDesc(request, "REPLY.Q", "QM1")) + " pmo=" + pmo_hex +
          " data=" + Hex(request.data)};
  EXPECT_EQ(Calls(), expected);
}

TEST_F(DriverTest, NamesOfFortyEightCharactersFillTheirFields) {
  const std::string queue(48, 'Q'), reply(48, 'R'), qmgr(48, 'M');
  Message m;
  m.data = "x";
  WriteFile(buffer_, Record(m));
  RunResult r =
      Run({WriteSettings("MessageBufferFile=" + buffer_ + "\nInQueue=" + queue +
                         "\nOutQueue=" + reply + "\nQueueMgr=" + qmgr + "\n")});
  EXPECT_EQ(r.status, 0);
  MQOD od = MQOD_DEFAULT;
  memcpy(od.ObjectName, queue.data(), 48);
  std::vector<std::string> calls = Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], "MQCONN name=" + qmgr);
  EXPECT_EQ(calls[1],
            "MQOPEN hconn=4660 options=2010 od=" +
                Hex(std::string(reinterpret_cast<char*>(&od), sizeof od)));
  std::string md = Header(m).substr(104, 324);
  PutText(md, 100, 48, reply);
  PutText(md, 148, 48, qmgr);
  EXPECT_NE(calls[2].find(" md=" + Hex(md)), std::string::npos);
}

struct OutcomeCase {
  const char* name;
  const char* conn;
  const char* open;
  std::string out;  // what follows the Connecting line
  int status;
  size_t calls;
};

TEST_F(DriverTest, EachConnectAndOpenOutcomeEndsAsItShould) {
  const std::string tail_after_connect = "\nConnected to QM1";
  const OutcomeCase cases[] = {
      {"connect fails", "2,2058", "0,0", "MQCONN ended with reason code 2058\n",
       ConnectStatus(2058), 1},
      {"connect fails with a reason whose low bits are 0", "2,2048", "0,0",
       "MQCONN ended with reason code 2048\n", ConnectStatus(2048), 1},
      {"connect warning goes on", "1,2002", "0,0", tail_after_connect, 0, 2},
      {"open warning with a reason", "0,0", "1,2049",
       tail_after_connect + "\nMQOPEN ended with reason code 2049\n", 1, 2},
      {"open fails with a reason", "0,0", "2,2085",
       tail_after_connect + "\nMQOPEN ended with reason code 2085\n", 1, 2},
      {"open fails with reason 0", "0,0", "2,0",
       tail_after_connect + "\nUnable to open queue for output\n", 2, 2},
  };
  WriteFile(buffer_, "");
  const std::string settings = StandardSettings();
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(log_);
    SetEnv("RECORDING_MQI_CONN", c.conn);
    SetEnv("RECORDING_MQI_OPEN", c.open);
    RunResult r = Run({settings});
    EXPECT_EQ(r.out, Console("\nConnecting to Queue Mgr: [QM1]" + c.out));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(Calls().size(), c.calls);
  }
}

TEST_F(DriverTest, FailedPutsAreReportedAndNotCounted) {
  Message m;
  m.data = "d";
  WriteFile(buffer_, Record(m) + Record(m) + Record(m));
  SetEnv("RECORDING_MQI_PUTS", "0,0;2,2053;1,2049");
  RunResult r = Run({StandardSettings()});
  const std::string h = ShownHeader("REMOTE.Q", "REMOTE.QM", "", "", 8, "", "",
                                    "20261211", "11223344");
  EXPECT_EQ(r.out,
            Console("\nConnecting to Queue Mgr: [QM1]\nConnected to QM1" + h +
                    "\nMQPUT 1 message in [TARGET.Q]" + h +
                    "MQPUT ended with reason code 2053\n" + h +
                    "MQPUT ended with reason code 2049\n"));
  EXPECT_EQ(r.status, 0);  // failed puts do not fail the run
  EXPECT_EQ(Calls().size(), 5u);
}

TEST_F(DriverTest, BufferFileThatCannotBeOpenedEndsWithStatus3) {
  const std::string missing = (dir_ / "no-such.buf").string();
  const std::string directory = dir_.string();
  struct {
    std::string path;
    int error;
  } cases[] = {{missing, 2}, {directory, kDirectoryErrno}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    RunResult r = Run({WriteSettings("MessageBufferFile=" + c.path +
                                     "\nInQueue=Q\nQueueMgr=QM1\n")});
    EXPECT_EQ(r.out,
              Console("\nConnecting to Queue Mgr: [QM1]\nConnected to QM1"
                      "\nError opening [" +
                      c.path + "].  Error code: " + std::to_string(c.error)));
    EXPECT_EQ(r.status, 3);
  }
}

TEST_F(DriverTest, MissingSettingsFileGoesOnWithEmptyValues) {
  const std::string path = (dir_ / "absent.ini").string();
  RunResult r = Run({path});
  EXPECT_EQ(r.err, Console("\nUnable to open " + path + ".  Error #: 2"));
  EXPECT_EQ(r.out, Console("\nConnecting to Queue Mgr: []\nConnected to "
                           "\nError opening [].  Error code: 2"));
  EXPECT_EQ(r.status, 3);
  std::vector<std::string> calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], "MQCONN name=");
}

TEST_F(DriverTest, SettingsTheToolCannotUseStopTheRunBeforeConnecting) {
  const std::string long49(49, 'N');
  const std::string long129(129, 'V');
  struct {
    const char* name;
    std::string settings;
    std::string err;
  } cases[] = {
      {"queue name over 48", "InQueue=" + long49 + "\nOutQueue=" + long49,
       "\nInQueue [" + long49 + "] is longer than 48 characters"},
      {"reply-to name over 48", "OutQueue=" + long49 + "\nQueueMgr=" + long49,
       "\nOutQueue [" + long49 + "] is longer than 48 characters"},
      {"queue manager over 48", "QueueMgr=" + long49,
       "\nQueueMgr [" + long49 + "] is longer than 48 characters"},
      {"value over its buffer", "InQueue=" + long129,
       "\nInQueue value is longer than 128 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(log_);
    RunResult r = Run({WriteSettings(c.settings + "\n")});
    EXPECT_EQ(r.err, Console(c.err));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 5);
    EXPECT_TRUE(Calls().empty());
  }
}

TEST_F(DriverTest, SettingsPathOver128CharactersStopsTheRun) {
  RunResult r = Run({std::string(129, 'p')});
  EXPECT_EQ(r.err, Console("\nSettings path is longer than 128 characters"));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 5);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(DriverTest, RecordShorterThanItsHeaderIsShownButNotPut) {
  Message m;
  m.msg_id = "FIRST";
  m.data = "one";
  std::string short_body = Header(m).substr(0, 200);
  PutText(short_body, 8, 48, std::string("SHORT.Q\0", 8));
  WriteFile(buffer_, Record(m) + RawRecord(short_body) + Record(m));
  RunResult r = Run({StandardSettings()});
  const std::string h = ShownHeader("REMOTE.Q", "REMOTE.QM", "", "", 8, "FIRST",
                                    "", "20261211", "11223344");
  EXPECT_EQ(
      r.out,
      Console("\nConnecting to Queue Mgr: [QM1]\nConnected to QM1" + h +
              "\nMQPUT 1 message in [TARGET.Q]" +
              ShownHeader("SHORT.Q", "REMOTE.QM", "", "", 8, "FIRST", "",
                          "20261211", "11223344") +
              "\nRecord 2 is shorter than its header: 200 bytes; not put" + h +
              "\nMQPUT 2 message in [TARGET.Q]"));
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(Calls().size(), 4u);
}

TEST_F(DriverTest, DamagedBufferFileStopsTheReplayWithStatus4) {
  Message m;
  m.data = "one";
  const std::string good = Record(m);
  const long second = static_cast<long>(good.size());
  struct {
    const char* name;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"negative length", good + LE32(-1),
       "\nRecord 2 at byte " + std::to_string(second) +
           " has an invalid length -1"},
      {"length over 10000", good + LE32(10001) + std::string(10001, 'x'),
       "\nRecord 2 at byte " + std::to_string(second) +
           " has an invalid length 10001"},
      {"cut short", good + good.substr(0, 100),
       "\nRecord 2 at byte " + std::to_string(second) +
           " is cut short: 96 of " + std::to_string(good.size() - 4) +
           " bytes"},
  };
  const std::string h = ShownHeader("REMOTE.Q", "REMOTE.QM", "", "", 8, "", "",
                                    "20261211", "11223344");
  const std::string settings = StandardSettings();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(log_);
    WriteFile(buffer_, c.bytes);
    RunResult r = Run({settings});
    EXPECT_EQ(r.out,
              Console("\nConnecting to Queue Mgr: [QM1]\nConnected to QM1" + h +
                      "\nMQPUT 1 message in [TARGET.Q]" + c.message));
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(Calls().size(), 3u);
  }
}

}  // namespace
