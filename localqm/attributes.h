// A queue's attributes and their file: optional KEY=VALUE lines, one
// attribute a line, in any order; an attribute that is absent keeps its
// default. Blank lines are ignored, a trailing CR is allowed, and anything
// else (an unknown key, a key twice, a value out of range) makes the file
// unreadable rather than silently ignored.
//
//   MaxDepth=5000            0..999999999 messages
//   MaxMsgLength=4194304     0..104857600 bytes of message data
//   Put=ENABLED              ENABLED or DISABLED
//   DefPersistence=0         0 or 1
//   DefPriority=0            0..9
#ifndef LOCALQM_ATTRIBUTES_H
#define LOCALQM_ATTRIBUTES_H

#include <cstdint>
#include <string>

namespace localqm {

constexpr int64_t kMaxMaxDepth = 999999999;
constexpr int64_t kMaxMaxMsgLength = 104857600;

struct Attributes {
  int64_t max_depth = 5000;
  int64_t max_msg_length = 4194304;
  bool put_enabled = true;
  int32_t def_persistence = 0;
  int32_t def_priority = 0;
};

// Parses an attributes file's text; on failure error says which line and
// why.
bool ParseAttributes(const std::string& text, Attributes* attributes,
                     std::string* error);
std::string FormatAttributes(const Attributes& attributes);

// Reads the attributes file of a queue folder; a missing file gives the
// defaults.
bool LoadAttributes(const std::string& queue_folder, Attributes* attributes,
                    std::string* error);

// Parses a decimal count within 0..max, digits only.
bool ParseCount(const std::string& text, int64_t max, int64_t* value);

}  // namespace localqm

#endif  // LOCALQM_ATTRIBUTES_H
