// localqm under faults, end to end with the built msgreplay: a disk that
// fills up, a replay killed in the middle, two replays into one queue at
// once, and a queue at its MaxDepth. Whatever happens, the queue keeps every
// message it accepted, whole, and holds no part of any other. POSIX only.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/replay_fixture.h"

using namespace testing_records;

namespace {

// A record of the stored size 4 + 428 + data bytes.
std::vector<Message> Messages(const std::string& prefix, int count,
                              size_t (*size)(int)) {
  std::vector<Message> records;
  for (int i = 0; i < count; i++) {
    char tag[32];
    snprintf(tag, sizeof tag, "%s-%05d", prefix.c_str(), i + 1);
    records.push_back(Numbered(tag, size(i)));
  }
  return records;
}

std::vector<Message> Slice(const std::vector<Message>& all, size_t from,
                           size_t to) {
  return {all.begin() + from, all.begin() + to};
}

int StatusOf(int raw) {
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// Starts msgreplay on settings with its output in out_path, or on a new
// pseudo-terminal where pty_master is given (each print then arrives as it
// is made). A file size limit, where given, makes writes past it fail with
// EFBIG rather than end the process.
pid_t StartReplay(const std::string& settings, const std::string& out_path,
                  rlim_t file_size_limit = RLIM_INFINITY,
                  int* pty_master = nullptr) {
  const char* argv[] = {MSGREPLAY_PROGRAM, settings.c_str(), nullptr};
  pid_t pid = pty_master != nullptr
                  ? forkpty(pty_master, nullptr, nullptr, nullptr)
                  : fork();
  if (pid != 0) return pid;
  if (pty_master == nullptr) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) _exit(126);
    dup2(out, 1);
    dup2(out, 2);
  }
  if (file_size_limit != RLIM_INFINITY) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {file_size_limit, file_size_limit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  execv(argv[0], const_cast<char* const*>(argv));
  _exit(127);
}

int WaitFor(pid_t pid) {
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  return StatusOf(raw);
}

// The count of the last whole put line in a run's output.
long LastPutCount(const std::string& out) {
  static const std::string start = "MQPUT ", end = " message in [TARGET.Q]";
  long last = 0;
  for (size_t at = out.find(start); at != std::string::npos;
       at = out.find(start, at + 1)) {
    size_t digits = at + start.size(), stop = digits;
    while (stop < out.size() && isdigit(static_cast<unsigned char>(out[stop])))
      stop++;
    if (stop > digits && out.compare(stop, end.size(), end) == 0)
      last = std::stol(out.substr(digits, stop - digits));
  }
  return last;
}

class Fault : public ReplayFixture {};

// Writes past the file size limit fail, as on a full disk: those puts fail
// with 2102 and the run goes on; the queue file holds whole messages only,
// and takes the refused ones once there is room again.
TEST_F(Fault, DiskFullFailsThePutAndLeavesTheQueueWhole) {
  const std::vector<Message> records =
      Messages("DISK", 6, [](int) -> size_t { return 3000; });
  const size_t stored_size = 4 + 428 + 3000;
  WriteFile(buffer_, FileOf(Slice(records, 0, 2)));
  ASSERT_EQ(Replay(Settings(buffer_)).status, 0);
  const std::string before = ReadFile(MessagesPath());
  ASSERT_EQ(before.size(), 2 * stored_size);

  // Room for two more messages and half of a third.
  WriteFile(buffer_, FileOf(Slice(records, 2, 6)));
  const std::string out_path = (dir_ / "limited.txt").string();
  pid_t pid = StartReplay(Settings(buffer_), out_path,
                          before.size() + 2 * stored_size + stored_size / 2);
  EXPECT_EQ(WaitFor(pid), 0);
  const std::string refused = "MQPUT ended with reason code 2102\n";
  EXPECT_EQ(ReadFile(out_path), ConnectedTo() + ShownFor(records[2]) +
                                    PutLine(1) + ShownFor(records[3]) +
                                    PutLine(2) + ShownFor(records[4]) +
                                    refused + ShownFor(records[5]) + refused);
  const std::string after = ReadFile(MessagesPath());
  EXPECT_EQ(after.size(), 4 * stored_size);
  EXPECT_EQ(after.substr(0, before.size()), before);
  ExpectQueueHolds(Queue(), Slice(records, 0, 4));

  WriteFile(buffer_, FileOf(Slice(records, 4, 6)));
  EXPECT_EQ(Replay(Settings(buffer_)).status, 0);
  ExpectQueueHolds(Queue(), records);
}

// A replay killed with SIGKILL at some point in its run leaves whole
// messages only: as many as the last put line it printed, or one more (put
// but not yet printed), and the first of the file's records in order. The
// kill may stop the write of the next message part way (Linux ends a write
// to a file between pages on a fatal signal): those bytes are no message,
// localqm counts only the whole ones, and the next put cuts them off.
TEST_F(Fault, ReplayKilledInTheMiddleLeavesWholeMessages) {
  const std::vector<Message> records = Messages(
      "KILL", 2000, [](int i) -> size_t { return 1 + (i * 977) % 6000; });
  WriteFile(buffer_, FileOf(records));
  const std::string settings = Settings(buffer_);
  const Message after_kill = Numbered("AFTER");
  const std::string after_file = (dir_ / "after.buf").string();
  WriteFile(after_file, Record(after_kill));

  for (long kill_after : {1L, 150L, 700L}) {
    SCOPED_TRACE("killed after put line " + std::to_string(kill_after));
    Clear();
    int master = -1;
    pid_t pid = StartReplay(settings, "", RLIM_INFINITY, &master);
    ASSERT_GT(pid, 0);
    std::string out;
    bool killed = false;
    for (;;) {
      struct pollfd ready = {master, POLLIN, 0};
      if (poll(&ready, 1, 20000) <= 0) break;  // a stuck run fails below
      char chunk[4096];
      ssize_t n = read(master, chunk, sizeof chunk);
      if (n <= 0) break;  // the terminal closed with the process
      // Only the new text, and a line that the last read may have cut.
      const size_t from = out.size() > 64 ? out.size() - 64 : 0;
      out.append(chunk, static_cast<size_t>(n));
      if (!killed && LastPutCount(out.substr(from)) >= kill_after) {
        kill(pid, SIGKILL);
        killed = true;
      }
    }
    close(master);
    if (!killed) kill(pid, SIGKILL);
    EXPECT_EQ(WaitFor(pid), 128 + SIGKILL);
    ASSERT_TRUE(killed) << "the run ended before it could be killed";

    const long printed = LastPutCount(out);
    std::string torn;
    std::vector<Stored> stored = ReadStored(MessagesPath(), &torn);
    RecordProperty("printed_after_" + std::to_string(kill_after),
                   std::to_string(printed) + " stored " +
                       std::to_string(stored.size()) + " torn " +
                       std::to_string(torn.size()));
    EXPECT_GE(static_cast<long>(stored.size()), printed);
    EXPECT_LE(static_cast<long>(stored.size()), printed + 1);
    ExpectQueueHolds(stored, Slice(records, 0, stored.size()));
    if (!torn.empty() && stored.size() < records.size()) {
      const std::string next = Record(records[stored.size()]);
      EXPECT_LT(torn.size(), next.size());
      EXPECT_EQ(torn.substr(0, 4),
                next.substr(0, torn.size() < 4 ? torn.size() : 4));
    }
    std::vector<localqm::QueueInfo> queues;
    std::string error;
    ASSERT_TRUE(localqm::ListQueues(root_, "QM1", &queues, &error)) << error;
    ASSERT_EQ(queues.size(), 1u);
    EXPECT_EQ(queues[0].depth, stored.size());

    EXPECT_EQ(
        Replay(Settings(after_file, "TARGET.Q", "REPLY.Q", "QM1", "after.ini"))
            .status,
        0);
    std::vector<Message> expected = Slice(records, 0, stored.size());
    expected.push_back(after_kill);
    ExpectQueueHolds(Queue(), expected);
    if (HasFailure()) break;
  }
}

// Two replays of different files into one queue at the same time: every
// message of each arrives once, whole and in its file's order, and no
// message holds bytes of another.
TEST_F(Fault, TwoReplaysIntoOneQueueAtOnce) {
  auto size = [](int i) -> size_t { return 500 + (i * 1231) % 8000; };
  const std::vector<Message> first = Messages("ONE", 600, size);
  const std::vector<Message> second = Messages("TWO", 600, size);
  const std::string first_file = (dir_ / "one.buf").string();
  const std::string second_file = (dir_ / "two.buf").string();
  WriteFile(first_file, FileOf(first));
  WriteFile(second_file, FileOf(second));
  const std::string first_out = (dir_ / "one.txt").string();
  const std::string second_out = (dir_ / "two.txt").string();

  pid_t one = StartReplay(
      Settings(first_file, "TARGET.Q", "REPLY.Q", "QM1", "one.ini"), first_out);
  pid_t two = StartReplay(
      Settings(second_file, "TARGET.Q", "REPLY.Q", "QM1", "two.ini"),
      second_out);
  EXPECT_EQ(WaitFor(one), 0);
  EXPECT_EQ(WaitFor(two), 0);
  EXPECT_EQ(LastPutCount(ReadFile(first_out)), 600);
  EXPECT_EQ(LastPutCount(ReadFile(second_out)), 600);

  std::vector<Stored> from_first, from_second;
  int switches = 0;
  char last_source = 0;
  for (const Stored& s : Queue()) {
    const char source = s.data.compare(0, 4, "ONE-") == 0 ? '1' : '2';
    (source == '1' ? from_first : from_second).push_back(s);
    if (last_source != 0 && source != last_source) switches++;
    last_source = source;
  }
  ExpectQueueHolds(from_first, first);
  ExpectQueueHolds(from_second, second);
  // Not asserted: how far the two runs overlapped on this machine.
  RecordProperty("source_switches", switches);
}

// A queue at its MaxDepth refuses further puts with 2053, and keeps every
// message it held byte for byte; at depth 0 it never makes its file.
TEST_F(Fault, QueueAtMaxDepthRefusesAndKeepsItsMessages) {
  struct Case {
    int max_depth;
    size_t held;     // put before the run
    size_t offered;  // in the run's file
  };
  const std::vector<Case> cases = {{5, 3, 4}, {1, 1, 2}, {0, 0, 2}};
  const std::vector<Message> records =
      Messages("DEPTH", 8, [](int i) -> size_t { return 10 + 100 * i; });
  for (const Case& c : cases) {
    const std::string queue = "FULL" + std::to_string(c.max_depth);
    SCOPED_TRACE(queue);
    localqm::Attributes attributes;
    attributes.max_depth = c.max_depth;
    Define(queue, attributes);
    if (c.held > 0) {
      WriteFile(buffer_, FileOf(Slice(records, 0, c.held)));
      ASSERT_EQ(Replay(Settings(buffer_, queue)).status, 0);
    }
    const std::string before = ReadFile(MessagesPath(queue));

    const std::vector<Message> offered =
        Slice(records, c.held, c.held + c.offered);
    WriteFile(buffer_, FileOf(offered));
    RunResult r = Replay(Settings(buffer_, queue));
    std::string out = ConnectedTo();
    int put = 0;
    for (size_t i = 0; i < offered.size(); i++) {
      out += ShownFor(offered[i]);
      if (c.held + i < static_cast<size_t>(c.max_depth))
        out += PutLine(++put, queue);
      else
        out += "MQPUT ended with reason code 2053\n";
    }
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(MessagesPath(queue)).substr(0, before.size()), before);
    const size_t kept = std::min<size_t>(c.max_depth, c.held + c.offered);
    ExpectQueueHolds(Queue(queue), Slice(records, 0, kept), queue);
    if (c.max_depth == 0) {
      EXPECT_FALSE(std::filesystem::exists(MessagesPath(queue)));
    }
  }
}

}  // namespace
