// Queue manager and queue names: how they are read from MQI fields, checked,
// and turned into folder names under the root folder.
//
//   <root>/default                       the default queue manager's name
//   <root>/<qmgr>.qmgr/                  a queue manager
//   <root>/<qmgr>.qmgr/stopped           present while it is stopped
//   <root>/<qmgr>.qmgr/<queue>.queue/    a local queue
//
// A name is 1 to 48 of A-Z a-z 0-9 . / _ %. In a folder name '%' is written
// "%25" and '/' "%2F", then the suffix follows; so each valid name has its
// own folder, and none leads out of its parent ("..", the name, becomes
// "...qmgr").
#ifndef LOCALQM_NAMES_H
#define LOCALQM_NAMES_H

#include <cstddef>
#include <string>

namespace localqm {

constexpr size_t kMaxNameLength = 48;

bool IsValidName(const std::string& name);

// The name held in an MQI field: up to its first NUL or the field's end,
// without trailing blanks.
std::string NameFromField(const char* field, size_t width);

std::string EncodeName(const std::string& name);
// Undoes EncodeName; false where encoded is not the encoding of a valid name.
bool DecodeName(const std::string& encoded, std::string* name);

// LOCALQM_ROOT where it is set and not empty, otherwise "qmgrs".
std::string DefaultRoot();

std::string DefaultQmgrPath(const std::string& root);
std::string QmgrFolder(const std::string& root, const std::string& qmgr);
std::string StoppedPath(const std::string& qmgr_folder);
std::string QueueFolder(const std::string& qmgr_folder,
                        const std::string& queue);
std::string MessagesPath(const std::string& queue_folder);
std::string AttributesPath(const std::string& queue_folder);

constexpr const char kQmgrSuffix[] = ".qmgr";
constexpr const char kQueueSuffix[] = ".queue";

}  // namespace localqm

#endif  // LOCALQM_NAMES_H
