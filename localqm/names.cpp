#include "localqm/names.h"

#include <cstdlib>
#include <cstring>

namespace localqm {

bool IsValidName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
              (c >= '0' && c <= '9') || c == '.' || c == '/' || c == '_' ||
              c == '%';
    if (!ok) return false;
  }
  return true;
}

std::string NameFromField(const char* field, size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  size_t length = nul ? static_cast<const char*>(nul) - field : width;
  while (length > 0 && field[length - 1] == ' ') --length;
  return std::string(field, length);
}

std::string EncodeName(const std::string& name) {
  std::string encoded;
  for (char c : name) {
    if (c == '%') {
      encoded += "%25";
    } else if (c == '/') {
      encoded += "%2F";
    } else {
      encoded += c;
    }
  }
  return encoded;
}

bool DecodeName(const std::string& encoded, std::string* name) {
  std::string decoded;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      decoded += encoded[i];
    } else if (encoded.compare(i, 3, "%25") == 0) {
      decoded += '%';
      i += 2;
    } else if (encoded.compare(i, 3, "%2F") == 0) {
      decoded += '/';
      i += 2;
    } else {
      return false;
    }
  }
  if (!IsValidName(decoded)) return false;
  *name = decoded;
  return true;
}

std::string DefaultRoot() {
  const char* root = std::getenv("LOCALQM_ROOT");
  return root != nullptr && root[0] != '\0' ? root : "qmgrs";
}

std::string DefaultQmgrPath(const std::string& root) {
  return root + "/default";
}

std::string QmgrFolder(const std::string& root, const std::string& qmgr) {
  return root + "/" + EncodeName(qmgr) + kQmgrSuffix;
}

std::string StoppedPath(const std::string& qmgr_folder) {
  return qmgr_folder + "/stopped";
}

std::string QueueFolder(const std::string& qmgr_folder,
                        const std::string& queue) {
  return qmgr_folder + "/" + EncodeName(queue) + kQueueSuffix;
}

std::string MessagesPath(const std::string& queue_folder) {
  return queue_folder + "/messages";
}

std::string AttributesPath(const std::string& queue_folder) {
  return queue_folder + "/attributes";
}

}  // namespace localqm
