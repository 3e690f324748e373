// The two readers of untrusted files: the messages file scan and the
// attributes file parser.
#include "localqm/messages_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "localqm/attributes.h"

namespace localqm {
namespace {

std::string Record(size_t data_size, char fill = 'd') {
  uint32_t body = static_cast<uint32_t>(kHeaderSize + data_size);
  std::string record;
  for (int i = 0; i < 4; ++i) record += static_cast<char>(body >> (8 * i));
  record += "XQH ";
  record += std::string(kHeaderSize - 4, '\0');
  record += std::string(data_size, fill);
  return record;
}

ScanResult Scan(const std::string& bytes) {
  return ScanMessages(reinterpret_cast<const uint8_t*>(bytes.data()),
                      bytes.size());
}

// Every cut of a good file: the whole records before the cut, and a torn
// tail exactly where the cut is not on a record boundary.
TEST(ScanMessagesTest, EveryCutOfAGoodFile) {
  std::vector<size_t> ends;
  std::string file;
  for (size_t data_size : {0, 5, 300}) {
    file += Record(data_size);
    ends.push_back(file.size());
  }
  for (size_t cut = 0; cut <= file.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    ScanResult result = Scan(file.substr(0, cut));
    uint64_t records = 0, whole_end = 0;
    for (size_t end : ends) {
      if (end <= cut) {
        ++records;
        whole_end = end;
      }
    }
    EXPECT_EQ(result.records, records);
    EXPECT_EQ(result.whole_end, whole_end);
    EXPECT_EQ(result.status,
              cut == whole_end ? ScanStatus::kEnd : ScanStatus::kCutShort);
  }
}

std::string Prefix(int32_t length) {
  std::string prefix;
  for (int i = 0; i < 4; ++i) {
    prefix += static_cast<char>(static_cast<uint32_t>(length) >> (8 * i));
  }
  return prefix;
}

TEST(ScanMessagesTest, DamagedRecords) {
  const std::string good = Record(3);
  std::string wrong_id = Record(3);
  wrong_id[4] = 'Y';
  struct Case {
    const char* what;
    std::string bytes;
    ScanStatus status;
    uint64_t records;
  } cases[] = {
      {"length one short of a header", Prefix(427) + std::string(427, 'x'),
       ScanStatus::kDamaged, 0},
      {"negative length", good + Prefix(-1), ScanStatus::kDamaged, 1},
      {"length 0", good + Prefix(0), ScanStatus::kDamaged, 1},
      {"length above any message", good + Prefix(kMaxBodySize + 1),
       ScanStatus::kDamaged, 1},
      {"largest length, body missing", good + Prefix(kMaxBodySize) + "XQH ",
       ScanStatus::kCutShort, 1},
      {"no XQH header", good + wrong_id, ScanStatus::kDamaged, 1},
      {"zeros where a record should be", good + std::string(600, '\0'),
       ScanStatus::kDamaged, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScanResult result = Scan(c.bytes);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.records, c.records);
    EXPECT_EQ(result.whole_end, c.records * good.size());
    if (c.status == ScanStatus::kDamaged) {
      EXPECT_NE(
          result.problem.find("offset " + std::to_string(result.whole_end)),
          std::string::npos)
          << result.problem;
    }
  }
}

TEST(ParseAttributesTest, GoodFiles) {
  Attributes custom;
  custom.max_depth = 0;
  custom.max_msg_length = kMaxMaxMsgLength;
  custom.put_enabled = false;
  custom.def_persistence = 1;
  custom.def_priority = 9;
  struct Case {
    const char* what;
    std::string text;
    Attributes expected;
  } cases[] = {
      {"empty: the defaults", "", Attributes()},
      {"as written", FormatAttributes(custom), custom},
      {"any order, CRLF, blank lines, no final newline",
       "DefPriority=9\r\n\r\nPut=DISABLED\nMaxDepth=0\n\nDefPersistence=1\n"
       "MaxMsgLength=104857600",
       custom},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Attributes parsed;
    parsed.max_depth = 123;
    std::string error;
    ASSERT_TRUE(ParseAttributes(c.text, &parsed, &error)) << error;
    EXPECT_EQ(parsed.max_depth, c.expected.max_depth);
    EXPECT_EQ(parsed.max_msg_length, c.expected.max_msg_length);
    EXPECT_EQ(parsed.put_enabled, c.expected.put_enabled);
    EXPECT_EQ(parsed.def_persistence, c.expected.def_persistence);
    EXPECT_EQ(parsed.def_priority, c.expected.def_priority);
  }
}

TEST(ParseAttributesTest, BadFilesNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"MaxDepth=1\nMaxDepth", "line 2: not KEY=VALUE"},
      {"maxdepth=1", "line 1: unknown attribute 'maxdepth'"},
      {" MaxDepth=1", "line 1: unknown attribute ' MaxDepth'"},
      {"Put=ENABLED\n\nPut=ENABLED", "line 3: Put given twice"},
      {"MaxDepth=-1", "line 1: bad value '-1' for MaxDepth"},
      {"MaxDepth=1000000000", "bad value"},
      {"MaxDepth=99999999999999999999", "bad value"},
      {"MaxDepth=", "bad value"},
      {"MaxDepth= 1", "bad value"},
      {"MaxMsgLength=104857601", "bad value"},
      {"Put=enabled", "bad value"},
      {"DefPersistence=2", "bad value"},
      {"DefPriority=10", "bad value"},
      {"DefPriority=4\x01", "bad value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Attributes parsed;
    std::string error;
    EXPECT_FALSE(ParseAttributes(c.text, &parsed, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace localqm
