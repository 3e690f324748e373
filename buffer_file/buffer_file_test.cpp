#include "buffer_file/buffer_file.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "buffer_file/input_file.h"
#include "tests/expected_output.h"
#include "tests/record_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_records;
using std::string;
using namespace std::string_literals;

// What one call of ReadNextRecord gives: its result and everything printed,
// the header lines of a record or the damage message of a fault.
struct Call {
  int result;
  string shown;
};

string ResultName(int result) {
  switch (result) {
    case RECORD_READ:
      return "READ";
    case RECORD_END:
      return "END";
    case RECORD_BAD_LENGTH:
      return "BAD_LENGTH";
    case RECORD_CUT_SHORT:
      return "CUT_SHORT";
    case RECORD_UNREADABLE:
      return "UNREADABLE";
  }
  return "?" + std::to_string(result);
}

// Reads BufferFile as the driver does, up to the first result other than
// RECORD_READ, and checks on the way what each call leaves behind.
std::vector<Call> ReadAll(const string& file, const string& path) {
  std::vector<Call> calls;
  size_t at = 0;  // where the next record's prefix lies in file
  for (;;) {
    MQLONG lengthBefore = RecordLength;
    MQBYTE* headerBefore = RecordHeader;
    testing::internal::CaptureStdout();
    int result = ReadNextRecord(&RecordLength, RecordBuffer);
    if (result != RECORD_READ) ShowRecordFault(result, path.c_str());
    calls.push_back({result, testing::internal::GetCapturedStdout()});
    if (result != RECORD_READ) {
      EXPECT_EQ(RecordLength, lengthBefore) << "after " << ResultName(result);
      EXPECT_EQ(RecordHeader, headerBefore) << "after " << ResultName(result);
      return calls;
    }
    // The body is the bytes after the prefix, in the buffer's first bytes.
    EXPECT_EQ(RecordHeader, RecordBuffer);
    EXPECT_EQ(RecordMsgDesc, RecordBuffer + 104);
    string body = file.substr(at + 4, (size_t)RecordLength);
    EXPECT_EQ(string((const char*)RecordBuffer, body.size()), body);
    at += 4 + body.size();
  }
}

string Display(const std::vector<Call>& calls) {
  string out;
  for (const Call& c : calls) out += ResultName(c.result) + " " + c.shown + "|";
  return out;
}

class BufferFileTest : public testing::Test {
 protected:
  void SetUp() override {
    auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = (fs::temp_directory_path() /
             ("msgreplay_buffer_" + std::to_string(tick) + ".buf"))
                .string();
    ResetRecordReader();
  }
  void TearDown() override {
    if (BufferFile != nullptr) fclose(BufferFile);
    BufferFile = nullptr;
    std::error_code ignored;
    fs::remove(path_, ignored);
  }

  std::vector<Call> ReadFileOf(const string& bytes) {
    if (BufferFile != nullptr) fclose(BufferFile);
    ResetRecordReader();
    WriteFile(path_, bytes);
    BufferFile = OpenInputFile(path_.c_str());
    EXPECT_NE(BufferFile, nullptr);
    std::vector<Call> calls = ReadAll(bytes, path_);
    fclose(BufferFile);
    BufferFile = nullptr;
    return calls;
  }

  string path_;
};

Message Sample(const string& id) {
  Message m;
  m.remote_q = "REMOTE.Q." + id;
  m.remote_qmgr = "REMOTE.QM." + id;
  m.msg_type = 8;
  m.msg_id = "MSGID" + id;
  m.correl_id = "CORREL" + id;
  m.reply_to_q = "REPLY.Q." + id;
  m.reply_to_qmgr = "REPLY.QM." + id;
  m.put_date = "2026121" + id;
  m.put_time = "1122334" + id;
  m.data = "data of " + id;
  return m;
}

string Shown(const Message& m) {
  return ShownHeader(m.remote_q, m.remote_qmgr, m.reply_to_q, m.reply_to_qmgr,
                     m.msg_type, m.msg_id, m.correl_id, m.put_date, m.put_time);
}

string BodyOf(const Message& m) { return Header(m) + m.data; }

TEST_F(BufferFileTest, ShowsSixLinesInTheExactFormat) {
  Message m = Sample("1");
  m.msg_type = -3;
  std::vector<Call> calls = ReadFileOf(Record(m));
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].shown,
            "\n\nRemoteQName: [REMOTE.Q.1]\nQueue Manager: [REMOTE.QM.1]"
            "\nReplyToQ: [REPLY.Q.1]\nReplyToQMgr: [REPLY.QM.1]"
            "\nMsg Type: [-3]    MsgID: [MSGID1].   CorrelID: [CORREL1] "
            "\nPutDate: [20261211]   PutTime: [11223341]");
  EXPECT_EQ(RecordLength, 428 + 9);
}

TEST_F(BufferFileTest, EachFileGivesTheseCalls) {
  const Message a = Sample("1");
  const Message b = Sample("2");
  const string empties = ShownHeader("", "", "", "", 0, "", "", "", "");

  // A 200-byte record keeps the names, type and ids but not the reply-to
  // fields and the put date and time, which lie beyond its end.
  Message shortOne = Sample("3");
  const string shortRecord = RawRecord(Header(shortOne).substr(0, 200));
  const string shortShown =
      ShownHeader(shortOne.remote_q, shortOne.remote_qmgr, a.reply_to_q,
                  a.reply_to_qmgr, shortOne.msg_type, shortOne.msg_id,
                  shortOne.correl_id, a.put_date, a.put_time);

  // Fields filled to their width with no NUL: each shows all its bytes and
  // nothing of the field after it.
  Message full = Sample("4");
  full.remote_q = string(40, 'R') + string(8, ' ');
  full.remote_qmgr = string(48, 'M');
  full.reply_to_q = string(48, 'Q');
  full.reply_to_qmgr = string(47, 'G') + "!";
  full.msg_id = string(24, 'I');
  full.correl_id = string(24, 'C');
  full.put_date = "DDDDDDDD";
  full.put_time = "TTTTTTTT";

  // A MsgId whose first byte is NUL shows empty, whatever follows; the bytes
  // of a CorrelId are shown as they are.
  Message hidden = Sample("5");
  hidden.msg_id = "\0HIDDEN"s;
  hidden.correl_id = "\x01\xff\t]";
  Message hiddenShown = hidden;
  hiddenShown.msg_id = "";

  Message lowest = Sample("6");
  lowest.msg_type = INT32_MIN;

  Message biggest = Sample("7");
  biggest.data = string(9572, 'd');
  biggest.data.back() = 'z';

  struct FileCase {
    const char* what;
    string file;
    std::vector<Call> calls;
  };
  const FileCase cases[] = {
      {"an empty file", "", {{RECORD_END, ""}}},
      {"two records, then the end",
       Record(a) + Record(b),
       {{RECORD_READ, Shown(a)}, {RECORD_READ, Shown(b)}, {RECORD_END, ""}}},
      {"a short record after a long one shows the earlier's later fields",
       Record(a) + shortRecord,
       {{RECORD_READ, Shown(a)}, {RECORD_READ, shortShown}, {RECORD_END, ""}}},
      {"fields without NUL",
       Record(full),
       {{RECORD_READ, Shown(full)}, {RECORD_END, ""}}},
      {"a MsgId that starts with NUL",
       Record(hidden),
       {{RECORD_READ, Shown(hiddenShown)}, {RECORD_END, ""}}},
      {"the lowest MsgType",
       Record(lowest),
       {{RECORD_READ, Shown(lowest)}, {RECORD_END, ""}}},
      {"a first record of length 0 shows the empty buffer",
       LE32(0) + Record(a),
       {{RECORD_READ, empties}, {RECORD_READ, Shown(a)}, {RECORD_END, ""}}},
      {"a record of 10,000 bytes",
       Record(biggest),
       {{RECORD_READ, Shown(biggest)}, {RECORD_END, ""}}},
      {"a record of just its header",
       RawRecord(Header(a)),
       {{RECORD_READ, Shown(a)}, {RECORD_END, ""}}},
      {"1 stray byte ends silently",
       Record(a) + "\x05",
       {{RECORD_READ, Shown(a)}, {RECORD_END, ""}}},
      {"3 stray bytes end silently",
       Record(a) + "\xff\xff\xff",
       {{RECORD_READ, Shown(a)}, {RECORD_END, ""}}},
      {"a negative length",
       LE32(-1) + BodyOf(a),
       {{RECORD_BAD_LENGTH, "\nRecord 1 at byte 0 has an invalid length -1"}}},
      {"a length of 10,001 after a record",
       Record(a) + LE32(10001) + string(10001, 'x'),
       {{RECORD_READ, Shown(a)},
        {RECORD_BAD_LENGTH,
         "\nRecord 2 at byte 441 has an invalid length 10001"}}},
      {"the lowest length",
       Record(a) + Record(b) + LE32(INT32_MIN),
       {{RECORD_READ, Shown(a)},
        {RECORD_READ, Shown(b)},
        {RECORD_BAD_LENGTH,
         "\nRecord 3 at byte 882 has an invalid length -2147483648"}}},
      {"a body cut short",
       Record(a) + LE32(500) + string(100, 'x'),
       {{RECORD_READ, Shown(a)},
        {RECORD_CUT_SHORT,
         "\nRecord 2 at byte 441 is cut short: 100 of 500 bytes"}}},
      {"a prefix with no body after it",
       LE32(0) + LE32(428),
       {{RECORD_READ, empties},
        {RECORD_CUT_SHORT,
         "\nRecord 2 at byte 4 is cut short: 0 of 428 bytes"}}},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Call> got = ReadFileOf(c.file);
    EXPECT_EQ(Display(got), Display(c.calls));
  }
  // A cut record is neither shown nor handed on: the length stays the last
  // whole record's.
  ReadFileOf(Record(a) + LE32(500) + string(100, 'x'));
  EXPECT_EQ(RecordLength, (MQLONG)BodyOf(a).size());
}

// Every cut of a good file gives whole records, then the end or a cut-short
// message for the record the cut falls into.
TEST_F(BufferFileTest, EveryCutOfAFileGivesWholeRecordsThenEndOrCutShort) {
  Message first = Sample("1");
  const string records[] = {Record(first), LE32(0),
                            RawRecord(BodyOf(Sample("3")).substr(0, 150))};
  string file;
  std::vector<size_t> ends;  // where each record ends in file
  for (const string& r : records) {
    file += r;
    ends.push_back(file.size());
  }
  const std::vector<Call> whole = ReadFileOf(file);
  ASSERT_EQ(whole.size(), 4u);

  for (size_t cut = 0; cut <= file.size(); cut++) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    std::vector<Call> got = ReadFileOf(file.substr(0, cut));
    size_t wholeRecords = 0;
    size_t begin = 0;  // where the record that the cut falls into begins
    while (wholeRecords < ends.size() && ends[wholeRecords] <= cut)
      begin = ends[wholeRecords++];
    ASSERT_EQ(got.size(), wholeRecords + 1);
    for (size_t i = 0; i < wholeRecords; i++)
      EXPECT_EQ(got[i].shown, whole[i].shown);
    const Call& last = got.back();
    if (cut - begin < 4) {
      EXPECT_EQ(last.result, RECORD_END);
      EXPECT_EQ(last.shown, "");
    } else {
      size_t length = ends[wholeRecords] - begin - 4;
      EXPECT_EQ(last.result, RECORD_CUT_SHORT);
      EXPECT_EQ(last.shown,
                "\nRecord " + std::to_string(wholeRecords + 1) + " at byte " +
                    std::to_string(begin) +
                    " is cut short: " + std::to_string(cut - begin - 4) +
                    " of " + std::to_string(length) + " bytes");
    }
  }
}

#ifdef __GLIBC__
// A stream that delivers the first bytes of a file, then fails with EIO.
struct FailingSource {
  string bytes;
  size_t at;
};

ssize_t ReadThenFail(void* cookie, char* to, size_t size) {
  FailingSource* source = (FailingSource*)cookie;
  if (source->at >= source->bytes.size()) {
    errno = EIO;
    return -1;
  }
  size_t count = std::min(size, source->bytes.size() - source->at);
  memcpy(to, source->bytes.data() + source->at, count);
  source->at += count;
  return (ssize_t)count;
}

TEST(BufferFileReadError, AFailingReadIsReportedWithItsErrorNumber) {
  const Message a = Sample("1");
  struct FailCase {
    const char* what;
    string before;  // what is read before the failure
    std::vector<Call> calls;
  };
  const string error = "\nError reading [saved.buf].  Error code: 5";
  const FailCase cases[] = {
      {"in the first prefix", "", {{RECORD_UNREADABLE, error}}},
      {"inside a prefix after a record",
       Record(a) + "\x10\x00"s,
       {{RECORD_READ, Shown(a)}, {RECORD_UNREADABLE, error}}},
      {"inside a body",
       LE32(428) + BodyOf(a).substr(0, 20),
       {{RECORD_UNREADABLE, error}}},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRecordReader();
    FailingSource source{c.before, 0};
    cookie_io_functions_t io = {ReadThenFail, nullptr, nullptr, nullptr};
    BufferFile = fopencookie(&source, "rb", io);
    ASSERT_NE(BufferFile, nullptr);
    std::vector<Call> got = ReadAll(c.before, "saved.buf");
    fclose(BufferFile);
    BufferFile = nullptr;
    EXPECT_EQ(Display(got), Display(c.calls));
  }
}
#endif

}  // namespace
