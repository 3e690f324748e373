// The localqm program run as a person would: its output and exit statuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "localqm/test_util.h"

namespace localqm {
namespace {

using test::ProgramRun;
using test::RunProgram;

class ProgramFolderTest : public ::testing::Test {
 protected:
  std::string scratch_ = test::ScratchFolder();
  std::string root_ = scratch_ + "/root";

  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }

  ProgramRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", root_});
    return RunProgram(args);
  }
};

TEST_F(ProgramFolderTest, FromAnEmptyFolder) {
  struct Step {
    std::vector<std::string> args;
    std::string out;
  } steps[] = {
      {{"create", "QM1", "--default"}, ""},
      {{"define", "QM1", "Q1", "--max-depth", "10"}, ""},
      {{"define", "QM1", "Q2", "--put", "disabled", "--def-priority", "9"}, ""},
      {{"list", "QM1"},
       "QUEUE      DEPTH   MAXDEPTH  PUT\n"
       "Q1             0         10  enabled\n"
       "Q2             0       5000  disabled\n"},
      {{"browse", "QM1", "Q1"}, "0 messages on queue Q1\n"},
      {{"stop", "QM1"}, ""},
      {{"start", "QM1"}, ""},
      {{"clear", "QM1", "Q1"}, ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args[0]);
    ProgramRun run = Run(step.args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, step.out);
    EXPECT_EQ(run.err, "");
  }
  EXPECT_EQ(test::ReadWhole(root_ + "/default"), "QM1\n");
  EXPECT_EQ(test::ReadWhole(root_ + "/QM1.qmgr/Q2.queue/attributes"),
            "MaxDepth=5000\nMaxMsgLength=4194304\nPut=DISABLED\n"
            "DefPersistence=0\nDefPriority=9\n");
  EXPECT_TRUE(std::filesystem::exists(root_ + "/QM1.qmgr/Q1.queue"));
}

// Each misuse: its status, and one line on standard error naming the cause
// (a usage error adds the usage text after it).
TEST_F(ProgramFolderTest, MisuseNamesTheCause) {
  ASSERT_EQ(Run({"create", "QM1"}).status, 0);
  ASSERT_EQ(Run({"define", "QM1", "Q1"}).status, 0);
  ASSERT_EQ(Run({"create", "QMS"}).status, 0);
  ASSERT_EQ(Run({"stop", "QMS"}).status, 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string line;
  } cases[] = {
      {{}, 2, "no command given"},
      {{"frob"}, 2, "unknown command 'frob'"},
      {{"create"}, 2, "create takes 1 name, not 0"},
      {{"define", "QM1", "Q9", "extra"}, 2, "define takes 2 names, not 3"},
      {{"list", "QM1", "--bogus"}, 2, "unknown option --bogus"},
      {{"define", "QM1", "Q9", "--max-depth"},
       2,
       "option --max-depth needs a value"},
      {{"define", "QM1", "Q9", "--max-depth", "ten"},
       2,
       "bad value 'ten' for --max-depth"},
      {{"define", "QM1", "Q9", "--max-depth", "1000000000"},
       2,
       "bad value '1000000000' for --max-depth"},
      {{"define", "QM1", "Q9", "--put", "maybe"},
       2,
       "bad value 'maybe' for --put"},
      {{"define", "QM1", "Q9", "--def-priority", "10"},
       2,
       "bad value '10' for --def-priority"},
      {{"define", "QM1", "Q9", "--default"},
       2,
       "option --default does not apply to define"},
      {{"create", "QM1", "--default", "--default"},
       2,
       "option --default given twice"},
      {{"create", "QM1"}, 1, "queue manager QM1 already exists ("},
      {{"create", "QM 1"}, 1, "'QM 1' is not a valid queue manager name"},
      {{"create", std::string(49, 'Q')}, 1, "is not a valid queue manager"},
      {{"define", "QM9", "Q1"},
       1,
       "queue manager QM9 does not exist (no folder"},
      {{"define", "QM1", "Q1"},
       1,
       "queue Q1 already exists on queue manager QM1 ("},
      {{"define", "QM1", "Q*"}, 1, "'Q*' is not a valid queue name"},
      {{"list", "QM9"}, 1, "queue manager QM9 does not exist"},
      {{"browse", "QM1", "Q9"},
       1,
       "queue Q9 does not exist on queue manager QM1 (no folder"},
      {{"clear", "QM1", "Q9"}, 1, "queue Q9 does not exist"},
      {{"stop", "QMS"}, 1, "queue manager QMS is already stopped"},
      {{"start", "QM1"}, 1, "queue manager QM1 is not stopped"},
  };
  for (const Case& c : cases) {
    std::string args;
    for (const std::string& arg : c.args) args += " " + arg;
    SCOPED_TRACE(args);
    ProgramRun run = Run(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, "");
    std::string first = run.err.substr(0, run.err.find('\n'));
    EXPECT_EQ(first.compare(0, 9, "localqm: "), 0) << first;
    EXPECT_NE(first.find(c.line), std::string::npos) << first;
    bool usage = run.err.find("\nusage: ") != std::string::npos;
    EXPECT_EQ(usage, c.status == 2) << run.err;
    if (c.status == 1) {
      EXPECT_EQ(run.err, first + "\n");
    }
  }
}

TEST_F(ProgramFolderTest, TornAndDamagedFilesAreReported) {
  ASSERT_EQ(Run({"create", "QM1"}).status, 0);
  ASSERT_EQ(Run({"define", "QM1", "TORN"}).status, 0);
  ASSERT_EQ(Run({"define", "QM1", "BAD"}).status, 0);
  test::WriteWhole(root_ + "/QM1.qmgr/TORN.queue/messages",
                   std::string("\xb0\x01\x00\x00XQH ", 8));
  test::WriteWhole(root_ + "/QM1.qmgr/BAD.queue/messages",
                   std::string("\x05\x00\x00\x00hello", 9));

  ProgramRun list = Run({"list", "QM1"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out,
            "QUEUE      DEPTH   MAXDEPTH  PUT\n"
            "BAD            0       5000  enabled  record 1 at offset 0: "
            "length 5 is out of range\n"
            "TORN           0       5000  enabled  torn last record (8 bytes "
            "at offset 0), cut by the next put\n");
  ProgramRun torn = Run({"browse", "QM1", "TORN"});
  EXPECT_EQ(torn.status, 0);
  EXPECT_EQ(torn.out,
            "0 messages on queue TORN\nthen a torn last record (8 bytes at "
            "offset 0), cut by the next put\n");
  ProgramRun bad = Run({"browse", "QM1", "BAD"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "localqm: " + root_ +
                         "/QM1.qmgr/BAD.queue/messages: record 1 at offset 0: "
                         "length 5 is out of range\n");
}

}  // namespace
}  // namespace localqm
