// Damaged and hostile input, end to end: the built msgreplay against
// localqm. Each case gives the exact standard output, standard error and
// exit status, and the queue must then hold exactly the records that the
// file held whole and that the queue accepted, byte for byte. The same
// cases run against the Windows build under Wine (MSGREPLAY_COMMAND,
// MSGREPLAY_PLATFORM: see replay_fixture.h).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/replay_fixture.h"

namespace fs = std::filesystem;
using namespace testing_records;

namespace {

const char kNoSuchQmgr[] = "MQCONN ended with reason code 2058\n";

std::string RandomBytes(unsigned seed, size_t size) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

int32_t LE32Of(const std::string& bytes) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; i--)
    v = (v << 8) | static_cast<unsigned char>(bytes[i]);
  return static_cast<int32_t>(v);
}

// Every file and folder under dir, to show that a run made nothing new.
std::set<std::string> Tree(const fs::path& dir) {
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    found.insert(entry.path().string());
  return found;
}

class BadInput : public ReplayFixture {};

// Three good records, cut at every length: a cut inside a length prefix
// (or at a record's end) ends the run quietly, a cut inside a body is
// reported, and the queue holds the records before the cut.
TEST_F(BadInput, EveryCutOfAGoodFile) {
  const std::vector<Message> records = {
      Numbered("FIRST", 10), Numbered("SECOND", 1), Numbered("THIRD", 30)};
  const std::string file = FileOf(records);
  std::vector<size_t> starts = {0};
  for (const Message& m : records)
    starts.push_back(starts.back() + Record(m).size());
  const std::string settings = Settings(buffer_);

  for (size_t cut = 0; cut <= file.size(); cut++) {
    SCOPED_TRACE("cut at byte " + std::to_string(cut));
    size_t whole = 0;
    while (whole < records.size() && starts[whole + 1] <= cut) whole++;
    const size_t into = cut - starts[whole];
    std::string out = ConnectedTo();
    for (size_t i = 0; i < whole; i++)
      out += ShownFor(records[i]) + PutLine(static_cast<int>(i + 1));
    int status = 0;
    if (whole < records.size() && into >= 4) {
      out += "\nRecord " + std::to_string(whole + 1) + " at byte " +
             std::to_string(starts[whole]) +
             " is cut short: " + std::to_string(into - 4) + " of " +
             std::to_string(Record(records[whole]).size() - 4) + " bytes";
      status = 4;
    }

    Clear();
    WriteFile(buffer_, file.substr(0, cut));
    RunResult r = Replay(settings);
    EXPECT_EQ(r.out, Console(out));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, status);
    ExpectQueueHolds(Queue(), {records.begin(), records.begin() + whole});
    if (HasFailure()) break;
  }
}

// A record with the given length prefix between two good ones. A length
// from 0 to 10,000 is followed by that many bytes: a header (as much of it
// as fits) and data.
TEST_F(BadInput, LengthPrefixes) {
  const Message first = Numbered("FIRST");
  const Message last = Numbered("LAST");
  Message middle = Numbered("MIDDLE");
  middle.remote_q = "MIDDLE.REMOTE";
  const std::string frame_at = std::to_string(Record(first).size());
  const std::string shown_first = ConnectedTo() + ShownFor(first) + PutLine(1);
  auto invalid = [&](const std::string& length) {
    return shown_first + "\nRecord 2 at byte " + frame_at +
           " has an invalid length " + length;
  };
  auto too_short = [&](const std::string& length) {
    return "\nRecord 2 is shorter than its header: " + length +
           " bytes; not put";
  };
  struct Case {
    int32_t length;
    std::string out;
    int status;
    std::vector<Message> stored;
  };
  Message largest = middle;
  largest.data = std::string(10000 - 428, 'L');
  const std::vector<Case> cases = {
      {-1, invalid("-1"), 4, {first}},
      // Nothing read: the header shown is what the buffer held, the first.
      {0,
       shown_first + ShownFor(first) + too_short("0") + ShownFor(last) +
           PutLine(2),
       4,
       {first, last}},
      {427,
       shown_first + ShownFor(middle) + too_short("427") + ShownFor(last) +
           PutLine(2),
       4,
       {first, last}},
      {428,
       shown_first + ShownFor(middle) + ShownFor(last) + PutLine(2),
       0,
       {first, last}},
      {10000,
       shown_first + ShownFor(largest) + PutLine(2) + ShownFor(last) +
           PutLine(3),
       0,
       {first, largest, last}},
      {10001, invalid("10001"), 4, {first}},
      {10000000, invalid("10000000"), 4, {first}},
      {0x7fffffff, invalid("2147483647"), 4, {first}},
      {INT32_MIN, invalid("-2147483648"), 4, {first}},
  };
  const std::string settings = Settings(buffer_);
  for (const Case& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    std::string frame = LE32(c.length);
    if (c.length >= 0 && c.length <= 10000) {
      Message m = middle;
      m.data = std::string(c.length > 428 ? c.length - 428 : 0, 'L');
      frame += (Header(m) + m.data).substr(0, c.length);
    } else {
      frame += std::string(20, 'z');
    }
    Clear();
    WriteFile(buffer_, Record(first) + frame + Record(last));
    RunResult r = Replay(settings);
    EXPECT_EQ(r.out, Console(c.out));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
    ExpectQueueHolds(Queue(), c.stored);
  }
}

// Files that are no buffer files at all.
TEST_F(BadInput, FilesThatAreNoBufferFiles) {
  const std::string random = RandomBytes(1, 4096);
  ASSERT_FALSE(LE32Of(random) >= 0 && LE32Of(random) <= 10000);
  const std::string text = "These are notes, not saved messages.\r\n";
  struct Case {
    const char* name;
    std::string file;
    std::string out;  // after the Connected line
    int status;
  };
  const std::vector<Case> cases = {
      {"random bytes", random,
       "\nRecord 1 at byte 0 has an invalid length " +
           std::to_string(LE32Of(random)),
       4},
      {"a text file", text,
       "\nRecord 1 at byte 0 has an invalid length " +
           std::to_string(LE32Of(text)),
       4},
      {"an empty file", "", "", 0},
      {"three stray bytes", "\x01\x02\x03", "", 0},
  };
  const std::string settings = Settings(buffer_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(buffer_, c.file);
    RunResult r = Replay(settings);
    EXPECT_EQ(r.out, Console(ConnectedTo() + c.out));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(Queue().empty());
  }
}

// Random bytes framed as a whole record: shown as they are, and the queue
// manager refuses the descriptor they make; the run goes on to the end.
TEST_F(BadInput, RandomRecordBodyIsRefusedByTheQueueManager) {
  const Message last = Numbered("LAST");
  WriteFile(buffer_, RawRecord(RandomBytes(2, 2000)) + Record(last));
  RunResult r = Replay(Settings(buffer_));
  const std::string refused = "MQPUT ended with reason code 2026\n";
  const std::string tail = Console(refused + ShownFor(last) + PutLine(1));
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  EXPECT_EQ(r.status, 0);
  ExpectQueueHolds(Queue(), {last});
}

TEST_F(BadInput, BufferFilePaths) {
  const Message m = Numbered("ONLY");
  // A path of exactly 128 characters fits; one more does not.
  std::string longest = (dir_ / "").string();
  longest += std::string(128 - longest.size() - 4, 'p') + ".buf";
  ASSERT_EQ(longest.size(), 128u);
  WriteFile(longest, Record(m));
  RunResult r = Replay(Settings(longest));
  EXPECT_EQ(r.out, Console(ConnectedTo() + ShownFor(m) + PutLine(1)));
  EXPECT_EQ(r.status, 0);
  ExpectQueueHolds(Queue(), {m});

  const std::string too_long = longest + "x";
  WriteFile(too_long, Record(m));
  r = Replay(Settings(too_long));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            Console("\nMessageBufferFile value is longer than 128 characters"));
  EXPECT_EQ(r.status, 5);

  r = Replay(Settings(dir_.string()));
  EXPECT_EQ(r.out,
            Console(ConnectedTo() + "\nError opening [" + dir_.string() +
                    "].  Error code: " + std::to_string(DirectoryErrno())));
  EXPECT_EQ(r.status, 3);
  ExpectQueueHolds(Queue(), {m});
}

// Settings files of strange bytes. Where the good lines are still read, the
// run replays the file whole.
TEST_F(BadInput, SettingsFiles) {
  const Message m = Numbered("ONLY");
  WriteFile(buffer_, Record(m));
  const std::string good = "MessageBufferFile=" + buffer_ +
                           "\nInQueue=TARGET.Q\nOutQueue=REPLY.Q\n"
                           "QueueMgr=QM1\n";
  std::string garbage = RandomBytes(3, 3000);
  for (char& c : garbage)
    if (c == '\x1a') c = '?';  // a Ctrl-Z would end the text there
  const std::string replayed = ConnectedTo() + ShownFor(m) + PutLine(1);
  struct Case {
    const char* name;
    std::string settings;
    std::string out, err;
    int status;
    bool put;
  };
  const std::vector<Case> cases = {
      {"binary garbage before the settings", garbage + "\n" + good, replayed,
       "", 0, true},
      {"binary garbage alone", garbage,
       "\nConnecting to Queue Mgr: []" + std::string(kNoSuchQmgr), "",
       ConnectStatus(2058), false},
      {"a line of 100,000 characters", std::string(100000, 'x') + "\n" + good,
       replayed, "", 0, true},
      {"a value of 100,000 characters",
       "InQueue=" + std::string(99992, 'Q') + "\n" + good, "",
       "\nInQueue value is longer than 128 characters", 5, false},
      {"NUL bytes hide the rest of a line",
       "MessageBufferFile=" + buffer_ + std::string("\0.old\n", 6) +
           std::string("InQueue=TARGET.Q\0.EVIL\n", 23) +
           std::string("\0QueueMgr=NOPE\n", 15) +
           "OutQueue=REPLY.Q\nQueueMgr=QM1\n",
       replayed, "", 0, true},
      {"nothing but Ctrl-Z", "\x1a",
       "\nConnecting to Queue Mgr: []" + std::string(kNoSuchQmgr), "",
       ConnectStatus(2058), false},
      {"Ctrl-Z before the settings", "\x1a" + good,
       "\nConnecting to Queue Mgr: []" + std::string(kNoSuchQmgr), "",
       ConnectStatus(2058), false},
      // The mark makes the first key another one, so no buffer file is set.
      {"a byte-order mark", "\xef\xbb\xbf" + good,
       ConnectedTo() + "\nError opening [].  Error code: 2", "", 3, false},
  };
  const std::string path = (dir_ / "strange.ini").string();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clear();
    WriteFile(path, c.settings);
    RunResult r = Replay(path);
    EXPECT_EQ(r.out, Console(c.out));
    EXPECT_EQ(r.err, Console(c.err));
    EXPECT_EQ(r.status, c.status);
    ExpectQueueHolds(Queue(),
                     c.put ? std::vector<Message>{m} : std::vector<Message>{});
  }
}

// Queue and queue manager names that are too long, hold characters outside
// A-Z a-z 0-9 . / _ %, or try to lead out of their folder. None may reach a
// file outside the root, and nothing is made on disk for them.
TEST_F(BadInput, Names) {
  const Message m = Numbered("ONLY");
  WriteFile(buffer_, Record(m));
  const std::string q49(49, 'Q'), m49(49, 'M');
  struct Case {
    std::string queue, reply_q, qmgr;
    std::string out, err;
    int status;
  };
  const std::vector<Case> cases = {
      {q49, "REPLY.Q", "QM1", "",
       "\nInQueue [" + q49 + "] is longer than 48 characters", 5},
      {"TARGET.Q", q49, "QM1", "",
       "\nOutQueue [" + q49 + "] is longer than 48 characters", 5},
      {"TARGET.Q", "REPLY.Q", m49, "",
       "\nQueueMgr [" + m49 + "] is longer than 48 characters", 5},
      {"TARGET.Q", "REPLY.Q", m49 + "M", "",
       "\nQueueMgr value is longer than 49 characters", 5},
      {std::string(129, 'Q'), "REPLY.Q", "QM1", "",
       "\nInQueue value is longer than 128 characters", 5},
      {"TARGET*Q", "REPLY.Q", "QM1",
       ConnectedTo() + "\nMQOPEN ended with reason code 2085\n", "", 1},
      {"TARGET.Q\t", "REPLY.Q", "QM1",
       ConnectedTo() + "\nMQOPEN ended with reason code 2085\n", "", 1},
      {"..", "REPLY.Q", "QM1",
       ConnectedTo() + "\nMQOPEN ended with reason code 2085\n", "", 1},
      {"../../TARGET.Q", "REPLY.Q", "QM1",
       ConnectedTo() + "\nMQOPEN ended with reason code 2085\n", "", 1},
      {"TARGET.Q", "REPLY.Q", "..",
       "\nConnecting to Queue Mgr: [..]" + std::string(kNoSuchQmgr), "",
       ConnectStatus(2058)},
      {"TARGET.Q", "REPLY.Q", "../qmgrs/QM1",
       "\nConnecting to Queue Mgr: [../qmgrs/QM1]" + std::string(kNoSuchQmgr),
       "", ConnectStatus(2058)},
  };
  const std::set<std::string> before = Tree(dir_);
  for (const Case& c : cases) {
    SCOPED_TRACE("InQueue=" + c.queue + " OutQueue=" + c.reply_q +
                 " QueueMgr=" + c.qmgr);
    RunResult r = Replay(Settings(buffer_, c.queue, c.reply_q, c.qmgr));
    EXPECT_EQ(r.out, Console(c.out));
    EXPECT_EQ(r.err, Console(c.err));
    EXPECT_EQ(r.status, c.status);
    // Only the run's own output files are new.
    std::set<std::string> after = Tree(dir_);
    for (const char* own : {"channel.ini", "stdout.txt", "stderr.txt"})
      after.erase((dir_ / own).string());
    EXPECT_EQ(after, before);
  }
}

// Names at the limits, or with characters a queue name cannot hold in the
// reply-to queue, which the queue manager stores as given.
TEST_F(BadInput, NamesThatAreAccepted) {
  const Message m = Numbered("ONLY");
  WriteFile(buffer_, Record(m));
  const std::string q48(48, 'Q'), m48(48, 'M');
  Define(q48);
  std::string error;
  ASSERT_TRUE(localqm::CreateQmgr(root_, m48, false, &error)) << error;
  ASSERT_TRUE(localqm::DefineQueue(root_, m48, "TARGET.Q", {}, &error))
      << error;
  struct Case {
    std::string queue, reply_q, qmgr;
  };
  const std::vector<Case> cases = {
      {q48, "REPLY.Q", "QM1"},      {"TARGET.Q", q48, "QM1"},
      {"TARGET.Q", "REPLY.Q", m48}, {"TARGET.Q", "REPLY*Q", "QM1"},
      {"TARGET.Q", "..", "QM1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("InQueue=" + c.queue + " OutQueue=" + c.reply_q +
                 " QueueMgr=" + c.qmgr);
    RunResult r = Replay(Settings(buffer_, c.queue, c.reply_q, c.qmgr));
    EXPECT_EQ(r.out,
              Console(ConnectedTo(c.qmgr) + ShownFor(m) + PutLine(1, c.queue)));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    const std::string messages = localqm::MessagesPath(
        localqm::QueueFolder(localqm::QmgrFolder(root_, c.qmgr), c.queue));
    ExpectQueueHolds(ReadStored(messages), {m}, c.queue, c.reply_q, c.qmgr);
    std::string cleared;
    ASSERT_TRUE(localqm::ClearQueue(root_, c.qmgr, c.queue, &cleared))
        << cleared;
  }
}

}  // namespace
