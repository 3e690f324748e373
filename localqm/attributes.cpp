#include "localqm/attributes.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "localqm/names.h"

namespace localqm {
namespace {

// Far more than any attributes file holds; a bigger one is not ours.
constexpr std::streamsize kMaxAttributesFileSize = 64 * 1024;

bool ParseValue(const std::string& key, const std::string& value,
                Attributes* attributes) {
  int64_t number = 0;
  if (key == "MaxDepth") {
    if (!ParseCount(value, kMaxMaxDepth, &number)) return false;
    attributes->max_depth = number;
  } else if (key == "MaxMsgLength") {
    if (!ParseCount(value, kMaxMaxMsgLength, &number)) return false;
    attributes->max_msg_length = number;
  } else if (key == "Put") {
    if (value != "ENABLED" && value != "DISABLED") return false;
    attributes->put_enabled = value == "ENABLED";
  } else if (key == "DefPersistence") {
    if (!ParseCount(value, 1, &number)) return false;
    attributes->def_persistence = static_cast<int32_t>(number);
  } else if (key == "DefPriority") {
    if (!ParseCount(value, 9, &number)) return false;
    attributes->def_priority = static_cast<int32_t>(number);
  }
  return true;
}

bool IsKnownKey(const std::string& key) {
  return key == "MaxDepth" || key == "MaxMsgLength" || key == "Put" ||
         key == "DefPersistence" || key == "DefPriority";
}

}  // namespace

bool ParseCount(const std::string& text, int64_t max, int64_t* value) {
  if (text.empty() || text.size() > 12) return false;
  int64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  if (number > max) return false;
  *value = number;
  return true;
}

bool ParseAttributes(const std::string& text, Attributes* attributes,
                     std::string* error) {
  Attributes parsed;
  std::set<std::string> seen;
  size_t start = 0;
  for (int line_number = 1; start < text.size(); ++line_number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::string where = "line " + std::to_string(line_number) + ": ";
    size_t equals = line.find('=');
    if (equals == std::string::npos) {
      *error = where + "not KEY=VALUE";
      return false;
    }
    std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    if (!IsKnownKey(key)) {
      *error = where + "unknown attribute '" + key + "'";
      return false;
    }
    if (!seen.insert(key).second) {
      *error = where + key + " given twice";
      return false;
    }
    if (!ParseValue(key, value, &parsed)) {
      *error = where + "bad value '" + value + "' for " + key;
      return false;
    }
  }
  *attributes = parsed;
  return true;
}

std::string FormatAttributes(const Attributes& attributes) {
  return "MaxDepth=" + std::to_string(attributes.max_depth) + "\n" +
         "MaxMsgLength=" + std::to_string(attributes.max_msg_length) + "\n" +
         "Put=" + (attributes.put_enabled ? "ENABLED" : "DISABLED") + "\n" +
         "DefPersistence=" + std::to_string(attributes.def_persistence) + "\n" +
         "DefPriority=" + std::to_string(attributes.def_priority) + "\n";
}

bool LoadAttributes(const std::string& queue_folder, Attributes* attributes,
                    std::string* error) {
  std::string path = AttributesPath(queue_folder);
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored) && !ignored) {
    *attributes = Attributes();
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be opened";
    return false;
  }
  std::string text;
  char chunk[4096];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(in.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMaxAttributesFileSize) {
      *error = path + ": too big for an attributes file";
      return false;
    }
  }
  if (in.bad()) {
    *error = path + ": cannot be read";
    return false;
  }
  if (!ParseAttributes(text, attributes, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace localqm
