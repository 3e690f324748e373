// The operations behind the localqm program: creating and inspecting queue
// managers and queues in the folders of names.h. Each returns false with a
// one-line message that names what was wrong.
#ifndef LOCALQM_ADMIN_H
#define LOCALQM_ADMIN_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "localqm/attributes.h"
#include "localqm/messages_file.h"
#include "mqi/mqi.h"

namespace localqm {

bool CreateQmgr(const std::string& root, const std::string& qmgr,
                bool make_default, std::string* error);
bool DefineQueue(const std::string& root, const std::string& qmgr,
                 const std::string& queue, const Attributes& attributes,
                 std::string* error);
// Makes or removes the queue manager's stopped file.
bool SetStopped(const std::string& root, const std::string& qmgr, bool stopped,
                std::string* error);
bool ClearQueue(const std::string& root, const std::string& qmgr,
                const std::string& queue, std::string* error);

struct QueueInfo {
  std::string name;
  Attributes attributes;
  uint64_t depth = 0;
  // Empty, or what is wrong with the queue's files (depth then counts the
  // whole messages before it).
  std::string note;
};
// The queue manager's queues, sorted by name.
bool ListQueues(const std::string& root, const std::string& qmgr,
                std::vector<QueueInfo>* queues, std::string* error);

struct BrowsedMessage {
  uint64_t number;  // from 1
  uint64_t offset;  // of its length prefix in the messages file
  uint32_t data_length;
  MQXQH header;
  std::string data_start;  // at most the data_limit first bytes
};
// Passes each whole message of the queue to show, oldest first; end tells
// how the file ended. A damaged file is an error once its whole messages
// have been shown.
bool BrowseQueue(const std::string& root, const std::string& qmgr,
                 const std::string& queue, size_t data_limit,
                 const std::function<void(const BrowsedMessage&)>& show,
                 ScanResult* end, std::string* error);

}  // namespace localqm

#endif  // LOCALQM_ADMIN_H
