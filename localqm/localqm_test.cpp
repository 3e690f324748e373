// MQCONN, MQOPEN and MQPUT as a program calls them, and what they leave in
// the messages files, read back by the tests' own reader.
#include <gtest/gtest.h>
#include <time.h>
#ifdef _WIN32
#include <process.h>
#else
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "localqm/admin.h"
#include "localqm/names.h"
#include "localqm/platform.h"
#include "localqm/test_util.h"
#include "mqi/mqi.h"

namespace localqm {
namespace {

#ifdef _WIN32
int setenv(const char* name, const char* value, int) {
  return _putenv_s(name, value);
}
#endif

// A process connects once, so the tests share one root and queue manager,
// QM1 (the default), and each test defines queues of its own.
struct World {
  std::string root;
  MQHCONN hconn = 0;
};
World* world = nullptr;

const std::string kLongQmgr(48, 'L');

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    world = new World;
    world->root = test::ScratchFolder();
    setenv("LOCALQM_ROOT", world->root.c_str(), 1);
    std::string error;
    for (const std::string& qmgr :
         {std::string("QM2"), std::string("QMS"), kLongQmgr}) {
      ASSERT_TRUE(CreateQmgr(world->root, qmgr, false, &error)) << error;
    }
    ASSERT_TRUE(CreateQmgr(world->root, "QM1", true, &error)) << error;
    ASSERT_TRUE(SetStopped(world->root, "QMS", true, &error)) << error;
    MQCHAR48 blank = {0};
    MQLONG cc = -1, reason = -1;
    MQCONN(blank, &world->hconn, &cc, &reason);
    ASSERT_EQ(cc, MQCC_OK);
    ASSERT_EQ(reason, MQRC_NONE);
  }
  void TearDown() override {
#ifndef _WIN32
    // Not on Windows: localqm holds its queues' files open until the process
    // ends, and there a folder whose files are open cannot be removed (this
    // remove_all would go round for ever).
    std::error_code ignored;
    std::filesystem::remove_all(world->root, ignored);
#endif
  }
};
[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new Environment);

std::string NewQueue(const Attributes& attributes = Attributes()) {
  static int count = 0;
  std::string name = "T" + std::to_string(++count);
  std::string error;
  EXPECT_TRUE(DefineQueue(world->root, "QM1", name, attributes, &error))
      << error;
  return name;
}

std::string MessagesOf(const std::string& queue) {
  return MessagesPath(QueueFolder(QmgrFolder(world->root, "QM1"), queue));
}

void SetField(char* field, size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

void Blank(char* field, size_t width, const std::string& text = "") {
  std::memset(field, ' ', width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

MQHOBJ Open(const std::string& queue) {
  MQOD od = MQOD_DEFAULT;
  SetField(od.ObjectName, sizeof od.ObjectName, queue);
  MQHOBJ hobj = 0;
  MQLONG cc = -1, reason = -1;
  MQOPEN(world->hconn, &od, MQOO_OUTPUT, &hobj, &cc, &reason);
  EXPECT_EQ(reason, MQRC_NONE) << "opening " << queue;
  return hobj;
}

struct Outcome {
  MQLONG cc;
  MQLONG reason;
};

Outcome Put(MQHOBJ hobj, MQMD* md, const std::string& data) {
  MQPMO pmo = MQPMO_DEFAULT;
  Outcome outcome = {-1, -1};
  MQPUT(world->hconn, hobj, md, &pmo, static_cast<MQLONG>(data.size()),
        const_cast<char*>(data.data()), &outcome.cc, &outcome.reason);
  return outcome;
}

MQLONG PutText(MQHOBJ hobj, const std::string& data,
               MQLONG persistence = MQPER_NOT_PERSISTENT) {
  MQMD md = MQMD_DEFAULT;
  md.Persistence = persistence;
  return Put(hobj, &md, data).reason;
}

// The tests' own reader of a messages file: whole records only, anything
// else fails the test.
struct StoredRecord {
  MQXQH header;
  std::string data;
};

std::vector<StoredRecord> ReadRecords(const std::string& bytes) {
  std::vector<StoredRecord> records;
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 4) {
      ADD_FAILURE() << "a length prefix cut short at offset " << at;
      break;
    }
    auto byte = [&](size_t i) {
      return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i]));
    };
    uint32_t length = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
    if (length < sizeof(MQXQH) || bytes.size() - at - 4 < length) {
      ADD_FAILURE() << "a record of length " << length << " at offset " << at
                    << " in a file of " << bytes.size() << " bytes";
      break;
    }
    StoredRecord record;
    std::memcpy(&record.header, bytes.data() + at + 4, sizeof(MQXQH));
    record.data = bytes.substr(at + 4 + sizeof(MQXQH), length - sizeof(MQXQH));
    records.push_back(record);
    at += 4 + length;
  }
  return records;
}

std::vector<StoredRecord> RecordsOf(const std::string& queue) {
  return ReadRecords(test::ReadWhole(MessagesOf(queue)));
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

// ---------------------------------------------------------------------------
// Every reason code.

TEST(MqconnTest, ReasonCodes) {
  std::string empty_root = test::ScratchFolder();
  struct Case {
    const char* what;
    std::string name;
    const char* root;  // in place of the shared one where set
    MQLONG cc;
    MQLONG reason;
  } cases[] = {
      {"blank: the default, already connected", "", nullptr, MQCC_WARNING,
       MQRC_ALREADY_CONNECTED},
      {"all blanks", "     ", nullptr, MQCC_WARNING, MQRC_ALREADY_CONNECTED},
      {"its name, blank padded", "QM1   ", nullptr, MQCC_WARNING,
       MQRC_ALREADY_CONNECTED},
      {"blank with no default file", "", empty_root.c_str(), MQCC_FAILED,
       MQRC_Q_MGR_NAME_ERROR},
      {"not defined", "QM9", nullptr, MQCC_FAILED, MQRC_Q_MGR_NAME_ERROR},
      // Names are case-sensitive, also where file names are not.
      {"its name in other letter case", "qm1", nullptr, MQCC_FAILED,
       MQRC_Q_MGR_NAME_ERROR},
      {"not a valid name", "QM 1", nullptr, MQCC_FAILED, MQRC_Q_MGR_NAME_ERROR},
      {"a path as a name", "../QM1.qmgr", nullptr, MQCC_FAILED,
       MQRC_Q_MGR_NAME_ERROR},
      {"stopped", "QMS", nullptr, MQCC_FAILED, MQRC_Q_MGR_NOT_AVAILABLE},
      {"another queue manager", "QM2", nullptr, MQCC_FAILED,
       MQRC_ANOTHER_Q_MGR_CONNECTED},
      // 48 characters fill the field with no NUL after them.
      {"a name as wide as the field", kLongQmgr, nullptr, MQCC_FAILED,
       MQRC_ANOTHER_Q_MGR_CONNECTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.root) setenv("LOCALQM_ROOT", c.root, 1);
    MQCHAR48 name;
    SetField(name, sizeof name, c.name);
    MQHCONN hconn = 0;
    MQLONG cc = -1, reason = -1;
    MQCONN(name, &hconn, &cc, &reason);
    setenv("LOCALQM_ROOT", world->root.c_str(), 1);
    EXPECT_EQ(cc, c.cc);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(hconn, c.cc == MQCC_WARNING ? world->hconn : MQHC_UNUSABLE_HCONN);
  }
  std::filesystem::remove_all(empty_root);
}

TEST(MqopenTest, ReasonCodesInOrder) {
  std::string queue = NewQueue();
  struct Call {
    MQOD od = MQOD_DEFAULT;
    MQOD* od_pointer = &od;
    MQLONG options = MQOO_OUTPUT;
    MQHCONN hconn;
  };
  struct Case {
    const char* what;
    std::function<void(Call&)> change;
    MQLONG reason;
  } cases[] = {
      {"unknown connection handle, bad descriptor too",
       [](Call& c) {
         c.hconn += 77;
         c.od.Version = 9;
       },
       MQRC_HCONN_ERROR},
      {"no descriptor", [](Call& c) { c.od_pointer = nullptr; }, MQRC_OD_ERROR},
      {"StrucId, bad type too",
       [](Call& c) {
         c.od.StrucId[0] = 'X';
         c.od.ObjectType = 5;
       },
       MQRC_OD_ERROR},
      {"Version 0", [](Call& c) { c.od.Version = 0; }, MQRC_OD_ERROR},
      {"Version 5", [](Call& c) { c.od.Version = 5; }, MQRC_OD_ERROR},
      {"not a queue, bad options too",
       [](Call& c) {
         c.od.ObjectType = 5;
         c.options = 0;
       },
       MQRC_OBJECT_TYPE_ERROR},
      {"no MQOO_OUTPUT, unknown queue manager too",
       [](Call& c) {
         c.options = MQOO_FAIL_IF_QUIESCING;
         SetField(c.od.ObjectQMgrName, 48, "QM2");
       },
       MQRC_OPTIONS_ERROR},
      {"an option besides output", [](Call& c) { c.options |= 0x8; },
       MQRC_OPTIONS_ERROR},
      {"another queue manager, unknown queue too",
       [](Call& c) {
         SetField(c.od.ObjectQMgrName, 48, "QM2");
         SetField(c.od.ObjectName, 48, "NOPE");
       },
       MQRC_UNKNOWN_OBJECT_Q_MGR},
      {"queue not defined",
       [](Call& c) { SetField(c.od.ObjectName, 48, "NOPE"); },
       MQRC_UNKNOWN_OBJECT_NAME},
      {"queue name in other letter case",
       [queue](Call& c) {
         SetField(c.od.ObjectName, 48, "t" + queue.substr(1));
       },
       MQRC_UNKNOWN_OBJECT_NAME},
      {"queue name not valid",
       [](Call& c) { SetField(c.od.ObjectName, 48, "T 1"); },
       MQRC_UNKNOWN_OBJECT_NAME},
      {"blank queue name", [](Call& c) { SetField(c.od.ObjectName, 48, ""); },
       MQRC_UNKNOWN_OBJECT_NAME},
      {"Version 4, fail if quiescing, its own queue manager named",
       [](Call& c) {
         c.od.Version = 4;
         c.options |= MQOO_FAIL_IF_QUIESCING;
         Blank(c.od.ObjectQMgrName, 48, "QM1");
       },
       MQRC_NONE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Call call;
    call.hconn = world->hconn;
    Blank(call.od.ObjectName, 48, queue);
    c.change(call);
    MQHOBJ hobj = 0;
    MQLONG cc = -1, reason = -1;
    MQOPEN(call.hconn, call.od_pointer, call.options, &hobj, &cc, &reason);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(cc, c.reason == MQRC_NONE ? MQCC_OK : MQCC_FAILED);
    if (c.reason != MQRC_NONE) {
      EXPECT_EQ(hobj, MQHO_UNUSABLE_HOBJ);
    }
  }
}

struct PutCall {
  MQHCONN hconn;
  MQHOBJ hobj = 0;  // 0: the queue opened for the case
  MQMD md = MQMD_DEFAULT;
  MQMD* md_pointer = &md;
  MQPMO pmo = MQPMO_DEFAULT;
  MQPMO* pmo_pointer = &pmo;
  MQLONG length = 5;
  const char* buffer = "hello";
  Attributes attributes;
};

// Defines a queue with the call's attributes, puts, and checks that a
// failed put left no messages file.
Outcome PutOnNewQueue(PutCall call) {
  std::string queue = NewQueue(call.attributes);
  if (call.hobj == 0) call.hobj = Open(queue);
  Outcome outcome = {-1, -1};
  MQPUT(call.hconn, call.hobj, call.md_pointer, call.pmo_pointer, call.length,
        const_cast<char*>(call.buffer), &outcome.cc, &outcome.reason);
  EXPECT_EQ(FileExists(MessagesOf(queue)), outcome.cc != MQCC_FAILED);
  return outcome;
}

// MQPUT's checks in their order: case i has faults i..n, so it gives fault
// i's reason only if every check before it passes and it comes first.
TEST(MqputTest, ReasonCodesInOrder) {
  struct Fault {
    const char* what;
    std::function<void(PutCall&)> apply;
    MQLONG reason;
  } faults[] = {
      {"unknown connection handle", [](PutCall& c) { c.hconn += 77; },
       MQRC_HCONN_ERROR},
      {"unknown object handle", [](PutCall& c) { c.hobj = 9999; },
       MQRC_HOBJ_ERROR},
      {"descriptor StrucId", [](PutCall& c) { c.md.StrucId[1] = 'X'; },
       MQRC_MD_ERROR},
      {"put options Version 4", [](PutCall& c) { c.pmo.Version = 4; },
       MQRC_PMO_ERROR},
      {"a put option", [](PutCall& c) { c.pmo.Options = 0x4; },
       MQRC_OPTIONS_ERROR},
      {"negative length", [](PutCall& c) { c.length = -1; },
       MQRC_BUFFER_LENGTH_ERROR},
      {"no buffer", [](PutCall& c) { c.buffer = nullptr; }, MQRC_BUFFER_ERROR},
      {"Persistence 3", [](PutCall& c) { c.md.Persistence = 3; },
       MQRC_PERSISTENCE_ERROR},
      {"Priority -2", [](PutCall& c) { c.md.Priority = -2; },
       MQRC_PRIORITY_ERROR},
      {"request without ReplyToQ",
       [](PutCall& c) {
         c.md.MsgType = MQMT_REQUEST;
         Blank(c.md.ReplyToQ, 48);
       },
       MQRC_MISSING_REPLY_TO_Q},
      {"Put=DISABLED", [](PutCall& c) { c.attributes.put_enabled = false; },
       MQRC_PUT_INHIBITED},
      {"above MaxMsgLength",
       [](PutCall& c) { c.attributes.max_msg_length = 4; },
       MQRC_MSG_TOO_BIG_FOR_Q},
      {"at MaxDepth", [](PutCall& c) { c.attributes.max_depth = 0; },
       MQRC_Q_FULL},
  };
  const size_t count = sizeof faults / sizeof faults[0];
  for (size_t first = 0; first <= count; ++first) {
    SCOPED_TRACE(first < count ? faults[first].what : "no fault");
    PutCall call;
    call.hconn = world->hconn;
    for (size_t i = first; i < count; ++i) faults[i].apply(call);
    MQLONG reason = first < count ? faults[first].reason : MQRC_NONE;
    Outcome outcome = PutOnNewQueue(call);
    EXPECT_EQ(outcome.reason, reason);
    EXPECT_EQ(outcome.cc, first < count ? MQCC_FAILED : MQCC_OK);
  }
}

// The other side of each check's boundary.
TEST(MqputTest, ReasonCodesAtTheBoundaries) {
  struct Case {
    const char* what;
    std::function<void(PutCall&)> change;
    MQLONG reason;
  } cases[] = {
      {"descriptor Version 2", [](PutCall& c) { c.md.Version = 2; }, MQRC_NONE},
      {"descriptor Version 3", [](PutCall& c) { c.md.Version = 3; },
       MQRC_MD_ERROR},
      {"no descriptor", [](PutCall& c) { c.md_pointer = nullptr; },
       MQRC_MD_ERROR},
      {"put options Version 3", [](PutCall& c) { c.pmo.Version = 3; },
       MQRC_NONE},
      {"put options Version 0", [](PutCall& c) { c.pmo.Version = 0; },
       MQRC_PMO_ERROR},
      {"put options StrucId", [](PutCall& c) { c.pmo.StrucId[0] = 'X'; },
       MQRC_PMO_ERROR},
      {"no put options", [](PutCall& c) { c.pmo_pointer = nullptr; },
       MQRC_PMO_ERROR},
      {"no buffer for no data",
       [](PutCall& c) {
         c.length = 0;
         c.buffer = nullptr;
       },
       MQRC_NONE},
      {"Persistence -1", [](PutCall& c) { c.md.Persistence = -1; },
       MQRC_PERSISTENCE_ERROR},
      {"Priority 10: stored as 9", [](PutCall& c) { c.md.Priority = 10; },
       MQRC_PRIORITY_EXCEEDS_MAXIMUM},
      {"request with a ReplyToQ",
       [](PutCall& c) {
         c.md.MsgType = MQMT_REQUEST;
         SetField(c.md.ReplyToQ, 48, "R");
       },
       MQRC_NONE},
      {"exactly MaxMsgLength",
       [](PutCall& c) { c.attributes.max_msg_length = 5; }, MQRC_NONE},
      {"MaxDepth 1 on an empty queue",
       [](PutCall& c) { c.attributes.max_depth = 1; }, MQRC_NONE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PutCall call;
    call.hconn = world->hconn;
    c.change(call);
    Outcome outcome = PutOnNewQueue(call);
    EXPECT_EQ(outcome.reason, c.reason);
    EXPECT_EQ(outcome.cc, c.reason == MQRC_NONE ? MQCC_OK
                          : c.reason == MQRC_PRIORITY_EXCEEDS_MAXIMUM
                              ? MQCC_WARNING
                              : MQCC_FAILED);
  }
}

// ---------------------------------------------------------------------------
// What is stored.

std::string UtcNow() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc;
#ifdef _WIN32
  gmtime_s(&utc, &now.tv_sec);
#else
  gmtime_r(&now.tv_sec, &utc);
#endif
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%02d",
                utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                utc.tm_min, utc.tm_sec,
                static_cast<int>(now.tv_nsec / 10000000));
  return text;
}

TEST(MqputTest, RoundTripOfDescriptorsAndData) {
  Attributes attributes;
  attributes.def_persistence = 1;
  attributes.def_priority = 4;
  std::string queue = NewQueue(attributes);
  MQHOBJ hobj = Open(queue);

  // As it comes: queue defaults, a new MsgId.
  MQMD plain = MQMD_DEFAULT;
  // Every field set, context fields the queue manager replaces, version 2.
  MQMD2 full = {};
  full.V1 = MQMD_DEFAULT;
  MQMD& md = full.V1;
  md.Version = MQMD_VERSION_2;
  md.Report = 0x100;
  md.MsgType = MQMT_REPLY;
  md.Expiry = 600;
  md.Feedback = 7;
  md.Encoding = 0x111;
  md.CodedCharSetId = 1208;
  std::memcpy(md.Format, MQFMT_STRING, 8);
  md.Priority = 12;
  md.Persistence = MQPER_NOT_PERSISTENT;
  std::memset(md.MsgId, 0xA5, sizeof md.MsgId);
  std::memset(md.CorrelId, 0x5A, sizeof md.CorrelId);
  md.BackoutCount = 3;
  std::memcpy(md.ReplyToQ, "REPLY\0garbage", 13);
  SetField(md.UserIdentifier, 12, "intruder");
  std::memset(md.AccountingToken, 0x33, 32);
  SetField(md.ApplIdentityData, 32, "identity");
  md.PutApplType = 99;
  SetField(md.PutApplName, 28, "other");
  SetField(md.PutDate, 8, "19990101");
  SetField(md.PutTime, 8, "00000000");
  SetField(md.ApplOriginData, 4, "orig");
  std::memset(full.GroupId, 0x77, sizeof full.GroupId);
  // No data, a reply-to queue manager that is kept.
  MQMD empty = MQMD_DEFAULT;
  SetField(empty.ReplyToQ, 48, "R");
  SetField(empty.ReplyToQMgr, 48, "ELSEWHERE");

  std::string binary;
  for (int i = 0; i < 3 * 256; ++i) binary += static_cast<char>(i);
  std::string before = UtcNow();
  Outcome first = Put(hobj, &plain, "hello");
  Outcome second = Put(hobj, &md, binary);
  Outcome third = Put(hobj, &empty, "");
  std::string after = UtcNow();
  EXPECT_EQ(first.reason, MQRC_NONE);
  EXPECT_EQ(second.cc, MQCC_WARNING);
  EXPECT_EQ(second.reason, MQRC_PRIORITY_EXCEEDS_MAXIMUM);
  EXPECT_EQ(third.reason, MQRC_NONE);

  std::vector<StoredRecord> records = RecordsOf(queue);
  ASSERT_EQ(records.size(), 3u);
  const std::string datas[] = {"hello", binary, ""};
#ifdef _WIN32
  const char* user = std::getenv("USERNAME");
#else
  const char* user = getpwuid(geteuid())->pw_name;
#endif
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE("message " + std::to_string(i + 1));
    const MQXQH& header = records[i].header;
    EXPECT_EQ(std::string(header.StrucId, 4), "XQH ");
    EXPECT_EQ(header.Version, 1);
    EXPECT_EQ(std::string(header.RemoteQName, 48),
              queue + std::string(48 - queue.size(), ' '));
    EXPECT_EQ(std::string(header.RemoteQMgrName, 48),
              "QM1" + std::string(45, ' '));
    EXPECT_EQ(records[i].data, datas[i]);
    std::string put_at(header.MsgDesc.PutDate, 16);
    EXPECT_LE(before, put_at);
    EXPECT_GE(after, put_at);
  }

  // The descriptors expected, field by field from what was passed.
  auto with_context = [&](MQMD expected, const MQMD& stored) {
    expected.Version = MQMD_VERSION_1;
    expected.BackoutCount = 0;
    Blank(expected.UserIdentifier, 12, user);
    std::memset(expected.AccountingToken, 0, 32);
    Blank(expected.ApplIdentityData, 32);
#ifdef _WIN32
    expected.PutApplType = MQAT_WINDOWS_NT;
    Blank(expected.PutApplName, 28, "localqm_test.exe");
#else
    expected.PutApplType = MQAT_UNIX;
    Blank(expected.PutApplName, 28, "localqm_test");
#endif
    std::memcpy(expected.PutDate, stored.PutDate, 16);
    Blank(expected.ApplOriginData, 4);
    return expected;
  };
  MQMD expected_plain = with_context(plain, records[0].header.MsgDesc);
  expected_plain.Persistence = 1;
  expected_plain.Priority = 4;
  std::memcpy(expected_plain.MsgId, records[0].header.MsgDesc.MsgId, 24);
  Blank(expected_plain.ReplyToQ, 48);
  Blank(expected_plain.ReplyToQMgr, 48);
  MQMD expected_full = with_context(md, records[1].header.MsgDesc);
  expected_full.Priority = 9;
  Blank(expected_full.ReplyToQ, 48, "REPLY");
  Blank(expected_full.ReplyToQMgr, 48, "QM1");
  MQMD expected_empty = with_context(empty, records[2].header.MsgDesc);
  expected_empty.Persistence = 1;
  expected_empty.Priority = 4;
  std::memcpy(expected_empty.MsgId, records[2].header.MsgDesc.MsgId, 24);
  Blank(expected_empty.ReplyToQ, 48, "R");
  Blank(expected_empty.ReplyToQMgr, 48, "ELSEWHERE");
  const MQMD* expected[] = {&expected_plain, &expected_full, &expected_empty};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE("message " + std::to_string(i + 1));
    EXPECT_EQ(
        std::memcmp(&records[i].header.MsgDesc, expected[i], sizeof(MQMD)), 0);
  }

  // New MsgIds are new, and handed back as a queue manager does.
  const MQBYTE zeros[24] = {};
  EXPECT_NE(std::memcmp(records[0].header.MsgDesc.MsgId, zeros, 24), 0);
  EXPECT_NE(std::memcmp(records[0].header.MsgDesc.MsgId,
                        records[2].header.MsgDesc.MsgId, 24),
            0);
  EXPECT_EQ(std::memcmp(plain.MsgId, records[0].header.MsgDesc.MsgId, 24), 0);
}

// ---------------------------------------------------------------------------
// Durability.

uint64_t size_at_last_flush = 0;
void RecordFlushedSize(platform::FileHandle file) {
  platform::FileState state;
  size_at_last_flush = platform::GetFileState(file, &state) ? state.size : 0;
}

TEST(MqputTest, PersistentPutIsFlushedBeforeItReturns) {
  platform::SetFlushObserver(RecordFlushedSize);
  for (MQLONG def_persistence : {0, 1}) {
    Attributes attributes;
    attributes.def_persistence = def_persistence;
    std::string queue = NewQueue(attributes);
    MQHOBJ hobj = Open(queue);
    struct Case {
      MQLONG persistence;
      bool flushed;
    } cases[] = {
        {MQPER_PERSISTENT, true},
        {MQPER_NOT_PERSISTENT, false},
        {MQPER_PERSISTENCE_AS_Q_DEF, def_persistence == 1},
        {MQPER_PERSISTENT, true},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE("DefPersistence " + std::to_string(def_persistence) +
                   ", Persistence " + std::to_string(c.persistence));
      uint64_t flushes = platform::FlushCount();
      size_at_last_flush = 0;
      ASSERT_EQ(PutText(hobj, "durable", c.persistence), MQRC_NONE);
      uint64_t size = std::filesystem::file_size(MessagesOf(queue));
      // One flush, taken once the whole record was written.
      EXPECT_EQ(platform::FlushCount() - flushes, c.flushed ? 1u : 0u);
      if (c.flushed) {
        EXPECT_EQ(size_at_last_flush, size);
      }
    }
  }
  platform::SetFlushObserver(nullptr);
}

// ---------------------------------------------------------------------------
// Concurrency, torn tails and failed writes.

// Message seq of process p: its own header and a body of one repeated byte,
// so a message that is interleaved with another cannot pass for whole.
std::string ConcurrentMessage(int p, int seq) {
  std::string text = "P" + std::to_string(p) + " " + std::to_string(seq) + ":";
  return text + std::string(static_cast<size_t>(seq * 37 % 300),
                            static_cast<char>('a' + p));
}

const int kEach = 2000;

// Puts kEach messages as process p; returns how many failed.
int PutAsProcess(int p, const std::string& queue) {
  MQHOBJ hobj = Open(queue);
  int failures = 0;
  for (int seq = 0; seq < kEach; ++seq) {
    failures += PutText(hobj, ConcurrentMessage(p, seq)) != MQRC_NONE;
  }
  return failures;
}

#ifdef _WIN32
// Windows has no fork: each putting process is this program run again with
// LOCALQM_TEST_PUTTER "P QUEUE" and the parent's LOCALQM_ROOT. It connects,
// puts and ends before any test runs.
[[maybe_unused]] const int kPutterRun = [] {
  const char* role = std::getenv("LOCALQM_TEST_PUTTER");
  if (role == nullptr || *role == '\0') return 0;
  world = new World;
  world->root = std::getenv("LOCALQM_ROOT");
  MQCHAR48 blank = {0};
  MQLONG cc = -1, reason = -1;
  MQCONN(blank, &world->hconn, &cc, &reason);
  if (cc != MQCC_OK) std::exit(2);
  std::string text = role;
  std::exit(PutAsProcess(text[0] - '0', text.substr(2)) == 0 ? 0 : 1);
}();
#endif

TEST(MqputTest, TwoProcessesPuttingAtOnceLeaveWholeMessages) {
  Attributes attributes;
  attributes.max_depth = 2 * kEach;
  std::string queue = NewQueue(attributes);
#ifdef _WIN32
  intptr_t children[2];
  for (int p = 0; p < 2; ++p) {
    setenv("LOCALQM_TEST_PUTTER", (std::to_string(p) + " " + queue).c_str(), 1);
    children[p] = _spawnl(_P_NOWAIT, _pgmptr, _pgmptr, nullptr);
    ASSERT_NE(children[p], -1);
  }
  setenv("LOCALQM_TEST_PUTTER", "", 1);
  for (intptr_t child : children) {
    int status = -1;
    ASSERT_EQ(_cwait(&status, child, 0), child);
    EXPECT_EQ(status, 0);
  }
#else
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) _exit(PutAsProcess(p, queue) == 0 ? 0 : 1);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
#endif

  std::vector<StoredRecord> records = RecordsOf(queue);
  ASSERT_EQ(records.size(), 2u * kEach);
  int next[2] = {0, 0};
  std::set<std::string> msg_ids;
  for (const StoredRecord& record : records) {
    int p = record.data[1] - '0';
    ASSERT_TRUE(p == 0 || p == 1) << record.data;
    EXPECT_EQ(record.data, ConcurrentMessage(p, next[p]));
    ++next[p];
    msg_ids.insert(std::string(
        reinterpret_cast<const char*>(record.header.MsgDesc.MsgId), 24));
  }
  EXPECT_EQ(next[0], kEach);
  EXPECT_EQ(next[1], kEach);
  EXPECT_EQ(msg_ids.size(), 2u * kEach);
  // The depth a new handle finds is exact: the queue is full.
  EXPECT_EQ(PutText(Open(queue), "one too many"), MQRC_Q_FULL);
}

TEST(MqputTest, TornLastRecordIsCutBackByTheNextPut) {
  Attributes attributes;
  attributes.max_depth = 2;
  std::string queue = NewQueue(attributes);
  std::string path = MessagesOf(queue);
  MQHOBJ hobj = Open(queue);
  ASSERT_EQ(PutText(hobj, "first"), MQRC_NONE);
  std::string first = test::ReadWhole(path);
  ASSERT_EQ(PutText(hobj, "second"), MQRC_NONE);
  std::string both = test::ReadWhole(path);

  // The file cut at every byte of its last record. MaxDepth 2 also shows
  // that the torn record is not counted as a message. The new message is
  // as long as the one cut, so the handle always finds the file shorter
  // than it left it, as a process that opens the queue anew would.
  for (size_t cut = first.size() + 1; cut < both.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    test::WriteWhole(path, both.substr(0, cut));
    ASSERT_EQ(PutText(hobj, "THIRD!"), MQRC_NONE);
    std::string after = test::ReadWhole(path);
    EXPECT_EQ(after.compare(0, first.size(), first), 0);
    std::vector<StoredRecord> records = ReadRecords(after);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].data, "THIRD!");
  }

  // A torn record another process left after what this handle knows.
  test::WriteWhole(path, first);
  MQHOBJ other = Open(queue);
  ASSERT_EQ(PutText(other, "x"), MQRC_NONE);  // the handle learns the size
  std::string known = test::ReadWhole(path);
  test::WriteWhole(path, known + both.substr(first.size(), 100));
  EXPECT_EQ(PutText(other, "y"), MQRC_Q_FULL);
  EXPECT_EQ(test::ReadWhole(path), known + both.substr(first.size(), 100))
      << "a refused put left the torn record";
  test::WriteWhole(path, first + both.substr(first.size(), 100));
  ASSERT_EQ(PutText(other, "y"), MQRC_NONE);
  std::vector<StoredRecord> records = RecordsOf(queue);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].data, "y");
}

TEST(MqputTest, FailedPutLeavesTheFileByteForByte) {
#ifndef _WIN32
  signal(SIGXFSZ, SIG_IGN);
#endif
  struct Case {
    const char* what;
    // Bytes to put after one good message, and a file size limit where set.
    std::string tail;
    uint64_t room;
    MQLONG reason;
  } cases[] = {
      {"the write runs out of room halfway", "", 300, MQRC_RESOURCE_PROBLEM},
      {"no room for the length prefix", "", 2, MQRC_RESOURCE_PROBLEM},
      {"a whole record that is not a message",
       std::string("\x10\x00\x00\x00", 4) + std::string(16, 'z'), 0,
       MQRC_RESOURCE_PROBLEM},
      {"a record with a negative length", std::string("\xff\xff\xff\xff", 4), 0,
       MQRC_RESOURCE_PROBLEM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
#ifdef _WIN32
    // Windows sets no limit on the size of the files a process writes.
    if (c.room != 0) continue;
#endif
    std::string queue = NewQueue();
    std::string path = MessagesOf(queue);
    MQHOBJ hobj = Open(queue);
    ASSERT_EQ(PutText(hobj, "good"), MQRC_NONE);
    test::WriteWhole(path, test::ReadWhole(path) + c.tail);
    std::string before = test::ReadWhole(path);
#ifndef _WIN32
    rlimit old_limit;
    getrlimit(RLIMIT_FSIZE, &old_limit);
    if (c.room != 0) {
      rlimit limit = old_limit;
      limit.rlim_cur = before.size() + c.room;
      setrlimit(RLIMIT_FSIZE, &limit);
    }
#endif
    MQLONG reason = PutText(hobj, std::string(1000, 'm'));
#ifndef _WIN32
    setrlimit(RLIMIT_FSIZE, &old_limit);
#endif
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(test::ReadWhole(path), before);
  }
#ifndef _WIN32

  // A put that fails on a queue with no messages file leaves none.
  std::string queue = NewQueue();
  MQHOBJ hobj = Open(queue);
  rlimit old_limit;
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = 10;
  setrlimit(RLIMIT_FSIZE, &limit);
  MQLONG reason = PutText(hobj, "no room", MQPER_PERSISTENT);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  EXPECT_EQ(reason, MQRC_RESOURCE_PROBLEM);
  EXPECT_FALSE(FileExists(MessagesOf(queue)));
  EXPECT_EQ(PutText(hobj, "room again"), MQRC_NONE);
  EXPECT_EQ(RecordsOf(queue).size(), 1u);
#endif
}

TEST(MqputTest, ClearIsSeenByHandlesThatKnowTheDepth) {
  Attributes attributes;
  attributes.max_depth = 3;
  std::string queue = NewQueue(attributes);
  MQHOBJ hobj = Open(queue);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(PutText(hobj, "before"), MQRC_NONE);
  test::ProgramRun run = test::RunProgram({"clear", "QM1", queue});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(FileExists(MessagesOf(queue)));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(PutText(hobj, "after"), MQRC_NONE);
  EXPECT_EQ(PutText(hobj, "too many"), MQRC_Q_FULL);
  std::vector<StoredRecord> records = RecordsOf(queue);
  ASSERT_EQ(records.size(), 3u);
  for (const StoredRecord& record : records) EXPECT_EQ(record.data, "after");
}

// ---------------------------------------------------------------------------
// Names.

TEST(NamesTest, StayInsideTheirFoldersAndDoNotCollide) {
  const std::string names[] = {"..", ".",   "a/b", "a%2Fb", "%2F",
                               "%",  "%25", "/",   "../x",  "a.queue"};
  std::string qmgr_folder = QmgrFolder(world->root, "QM1");
  std::set<std::string> folders;
  std::string error;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::string folder = QueueFolder(qmgr_folder, name);
    folders.insert(folder);
    ASSERT_TRUE(DefineQueue(world->root, "QM1", name, Attributes(), &error))
        << error;
    EXPECT_EQ(std::filesystem::path(folder).parent_path(), qmgr_folder);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    std::string decoded;
    std::string file_name = std::filesystem::path(folder).filename().string();
    ASSERT_TRUE(
        DecodeName(file_name.substr(0, file_name.size() - 6), &decoded));
    EXPECT_EQ(decoded, name);
    ASSERT_EQ(PutText(Open(name), name), MQRC_NONE);
  }
  EXPECT_EQ(folders.size(), sizeof names / sizeof names[0]);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::vector<StoredRecord> records = ReadRecords(
        test::ReadWhole(MessagesPath(QueueFolder(qmgr_folder, name))));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].data, name);
  }
  // Nothing was made outside the queue manager's folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(world->root),
                          std::filesystem::directory_iterator()),
            5);

  // A folder whose name is not the encoding of a valid name is no queue.
  std::filesystem::create_directory(qmgr_folder + "/x y.queue");
  std::filesystem::create_directory(qmgr_folder + "/%41.queue");
  for (const char* name : {"x y", "%41", "A"}) {
    MQOD od = MQOD_DEFAULT;
    SetField(od.ObjectName, 48, name);
    MQHOBJ hobj;
    MQLONG cc, reason;
    MQOPEN(world->hconn, &od, MQOO_OUTPUT, &hobj, &cc, &reason);
    EXPECT_EQ(reason, MQRC_UNKNOWN_OBJECT_NAME) << name;
  }
  for (const char* encoded : {"%2f", "%41", "%", "%2", "a b", ""}) {
    std::string decoded;
    EXPECT_FALSE(DecodeName(encoded, &decoded)) << encoded;
  }
}

// ---------------------------------------------------------------------------
// The program's view of messages put through the calls.

TEST(ProgramTest, ListAndBrowseShowWhatWasPut) {
  std::string queue = NewQueue();
  MQHOBJ hobj = Open(queue);
  MQMD md = MQMD_DEFAULT;
  md.MsgType = MQMT_REQUEST;
  md.Persistence = MQPER_PERSISTENT;
  md.Priority = 3;
  std::memcpy(md.Format, MQFMT_STRING, 8);
  SetField(md.ReplyToQ, 48, "REPLY.Q");
  std::memset(md.MsgId, 0xAB, 24);
  md.CorrelId[23] = 1;
  const std::string start = "line one\nquote \" and \x01";
  ASSERT_EQ(Put(hobj, &md, start + std::string(80, 'x')).reason, MQRC_NONE);

  test::ProgramRun list = test::RunProgram({"list", "QM1"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("\n" + queue + " "), std::string::npos) << list.out;
  std::string line = list.out.substr(list.out.find("\n" + queue + " ") + 1);
  line = line.substr(0, line.find('\n'));
  EXPECT_NE(line.find("  1  "), std::string::npos) << line;

  test::ProgramRun browse = test::RunProgram({"browse", "QM1", queue});
  EXPECT_EQ(browse.status, 0) << browse.err;
  std::vector<std::string> lines;
  for (size_t at = 0; at < browse.out.size();) {
    size_t end = browse.out.find('\n', at);
    lines.push_back(browse.out.substr(at, end - at));
    at = end + 1;
  }
  std::string ab;
  for (int i = 0; i < 24; ++i) ab += "AB";
  const std::vector<std::string> want = {
      "Message 1",
      "  Length       " + std::to_string(start.size() + 80),
      "  MsgId        " + ab,
      "  CorrelId     " + std::string(46, '0') + "01",
      "  MsgType      1 (request)",
      "  Persistence  1 (persistent)",
      "  Priority     3",
      "  Format       MQSTR",
      "  ReplyToQ     REPLY.Q",
      "  ReplyToQMgr  QM1",
  };
  ASSERT_GE(lines.size(), want.size() + 4);
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(lines[i], want[i]);
  EXPECT_EQ(lines[10].substr(0, 15), "  PutDate      ");
  EXPECT_EQ(lines[11].substr(0, 15), "  PutTime      ");
  EXPECT_EQ(lines[12], "  Data         \"line one\\nquote \\\" and \\x01" +
                           std::string(64 - start.size(), 'x') + "\"...");
  EXPECT_EQ(lines[13], "1 message on queue " + queue);
}

}  // namespace
}  // namespace localqm
