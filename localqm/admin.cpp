#include "localqm/admin.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "localqm/names.h"
#include "localqm/platform.h"

namespace fs = std::filesystem;

namespace localqm {
namespace {

bool CheckName(const std::string& name, const char* what, std::string* error) {
  if (IsValidName(name)) return true;
  *error = "'" + name + "' is not a valid " + what +
           " name (1 to 48 of A-Z a-z 0-9 . / _ %)";
  return false;
}

bool FindQmgr(const std::string& root, const std::string& qmgr,
              std::string* folder, std::string* error) {
  if (!CheckName(qmgr, "queue manager", error)) return false;
  *folder = QmgrFolder(root, qmgr);
  if (platform::IsFolder(*folder)) return true;
  *error =
      "queue manager " + qmgr + " does not exist (no folder " + *folder + ")";
  return false;
}

bool FindQueue(const std::string& root, const std::string& qmgr,
               const std::string& queue, std::string* folder,
               std::string* error) {
  std::string qmgr_folder;
  if (!FindQmgr(root, qmgr, &qmgr_folder, error)) return false;
  if (!CheckName(queue, "queue", error)) return false;
  *folder = QueueFolder(qmgr_folder, queue);
  if (platform::IsFolder(*folder)) return true;
  *error = "queue " + queue + " does not exist on queue manager " + qmgr +
           " (no folder " + *folder + ")";
  return false;
}

// Writes text to path through a temporary file and a rename, so a reader
// sees the old file or the new one, never a part.
bool WriteFileWhole(const std::string& path, const std::string& text,
                    std::string* error) {
  std::string temporary = path + ".new" + std::to_string(platform::ProcessId());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      *error = "cannot write " + temporary;
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code failure;
  fs::rename(temporary, path, failure);
  if (failure) {
    *error = "cannot write " + path + ": " + failure.message();
    fs::remove(temporary, failure);
    return false;
  }
  return true;
}

std::string TornNote(const ScanResult& scan, uint64_t size) {
  return "torn last record (" + std::to_string(size - scan.whole_end) +
         " bytes at offset " + std::to_string(scan.whole_end) +
         "), cut by the next put";
}

// Where file names ignore letter case (Windows), a name's folder can be
// taken by a name that differs from it only in case.
std::string CaseClash(const char* what, const std::string& name,
                      const std::string& folder) {
  return std::string(what) + " " + name +
         " cannot be made: its folder is taken by a name that differs only "
         "in letter case (" +
         folder + ")";
}
}  // namespace

bool CreateQmgr(const std::string& root, const std::string& qmgr,
                bool make_default, std::string* error) {
  if (!CheckName(qmgr, "queue manager", error)) return false;
  std::error_code failure;
  fs::create_directories(root, failure);
  if (failure) {
    *error = "cannot create the root folder " + root + ": " + failure.message();
    return false;
  }
  std::string folder = QmgrFolder(root, qmgr);
  if (!fs::create_directory(folder, failure)) {
    *error = failure ? "cannot create " + folder + ": " + failure.message()
             : platform::IsFolder(folder)
                 ? "queue manager " + qmgr + " already exists (" + folder + ")"
                 : CaseClash("queue manager", qmgr, folder);
    return false;
  }
  return !make_default ||
         WriteFileWhole(DefaultQmgrPath(root), qmgr + "\n", error);
}

// The queue's folder is filled under a temporary name, then renamed into
// place, so a queue never exists without its attributes.
bool DefineQueue(const std::string& root, const std::string& qmgr,
                 const std::string& queue, const Attributes& attributes,
                 std::string* error) {
  std::string qmgr_folder;
  if (!FindQmgr(root, qmgr, &qmgr_folder, error)) return false;
  if (!CheckName(queue, "queue", error)) return false;
  std::string folder = QueueFolder(qmgr_folder, queue);
  std::string exists = "queue " + queue + " already exists on queue manager " +
                       qmgr + " (" + folder + ")";
  if (platform::IsFolder(folder)) {
    *error = exists;
    return false;
  }
  std::string temporary =
      qmgr_folder + "/.define" + std::to_string(platform::ProcessId());
  std::error_code failure;
  fs::remove_all(temporary, failure);
  if (!fs::create_directory(temporary, failure)) {
    *error = "cannot create " + temporary + ": " + failure.message();
    return false;
  }
  if (!WriteFileWhole(AttributesPath(temporary), FormatAttributes(attributes),
                      error)) {
    fs::remove_all(temporary, failure);
    return false;
  }
  fs::rename(temporary, folder, failure);
  if (failure) {
    std::error_code ignored;
    *error = platform::IsFolder(folder) ? exists
             : fs::exists(folder, ignored)
                 ? CaseClash("queue", queue, folder)
                 : "cannot create " + folder + ": " + failure.message();
    fs::remove_all(temporary, failure);
    return false;
  }
  return true;
}

bool SetStopped(const std::string& root, const std::string& qmgr, bool stopped,
                std::string* error) {
  std::string folder;
  if (!FindQmgr(root, qmgr, &folder, error)) return false;
  std::string path = StoppedPath(folder);
  if (stopped) {
    platform::FileHandle file = platform::kNoFile;
    platform::OpenResult result =
        platform::OpenForAppending(path, true, true, &file);
    if (result == platform::OpenResult::kOpened) {
      platform::CloseFile(file);
      return true;
    }
    *error = result == platform::OpenResult::kExists
                 ? "queue manager " + qmgr + " is already stopped"
                 : "cannot create " + path + ": " + platform::LastErrorText();
    return false;
  }
  std::error_code failure;
  if (fs::remove(path, failure)) return true;
  *error = failure ? "cannot remove " + path + ": " + failure.message()
                   : "queue manager " + qmgr + " is not stopped";
  return false;
}

bool ClearQueue(const std::string& root, const std::string& qmgr,
                const std::string& queue, std::string* error) {
  std::string folder;
  return FindQueue(root, qmgr, queue, &folder, error) &&
         ClearMessages(MessagesPath(folder), error);
}

bool ListQueues(const std::string& root, const std::string& qmgr,
                std::vector<QueueInfo>* queues, std::string* error) {
  std::string qmgr_folder;
  if (!FindQmgr(root, qmgr, &qmgr_folder, error)) return false;
  std::error_code failure;
  fs::directory_iterator entries(qmgr_folder, failure);
  if (failure) {
    *error = "cannot read " + qmgr_folder + ": " + failure.message();
    return false;
  }
  const std::string suffix = kQueueSuffix;
  queues->clear();
  for (const fs::directory_entry& entry : entries) {
    std::string file_name = entry.path().filename().string();
    QueueInfo info;
    if (file_name.size() <= suffix.size() ||
        file_name.compare(file_name.size() - suffix.size(), suffix.size(),
                          suffix) != 0 ||
        !DecodeName(file_name.substr(0, file_name.size() - suffix.size()),
                    &info.name) ||
        !platform::IsFolder(entry.path().string())) {
      continue;
    }
    std::string folder = entry.path().string();
    std::string problem;
    MessagesSnapshot snapshot;
    if (!LoadAttributes(folder, &info.attributes, &problem)) {
      info.note = problem;
    } else if (!OpenSnapshot(MessagesPath(folder), &snapshot, &problem)) {
      info.note = problem;
    } else if (snapshot.file != platform::kNoFile) {
      ScanResult scan = ScanMessagesFile(snapshot.file, 0, snapshot.size, 0);
      platform::CloseFile(snapshot.file);
      info.depth = scan.records;
      if (scan.status == ScanStatus::kCutShort) {
        info.note = TornNote(scan, snapshot.size);
      } else if (scan.status != ScanStatus::kEnd) {
        info.note = scan.problem;
      }
    }
    queues->push_back(info);
  }
  std::sort(
      queues->begin(), queues->end(),
      [](const QueueInfo& a, const QueueInfo& b) { return a.name < b.name; });
  return true;
}

bool BrowseQueue(const std::string& root, const std::string& qmgr,
                 const std::string& queue, size_t data_limit,
                 const std::function<void(const BrowsedMessage&)>& show,
                 ScanResult* end, std::string* error) {
  std::string folder;
  if (!FindQueue(root, qmgr, queue, &folder, error)) return false;
  std::string path = MessagesPath(folder);
  MessagesSnapshot snapshot;
  if (!OpenSnapshot(path, &snapshot, error)) return false;
  *end = ScanResult();
  if (snapshot.file == platform::kNoFile) return true;
  *end = ScanMessagesFile(
      snapshot.file, 0, snapshot.size, 0, kHeaderSize + data_limit,
      [&](const RecordView& record) {
        BrowsedMessage message;
        message.number = record.number;
        message.offset = record.offset;
        message.data_length =
            record.body_size - static_cast<uint32_t>(kHeaderSize);
        std::memcpy(&message.header, record.head, kHeaderSize);
        message.data_start.assign(
            reinterpret_cast<const char*>(record.head) + kHeaderSize,
            record.head_size - kHeaderSize);
        show(message);
      });
  platform::CloseFile(snapshot.file);
  if (end->status == ScanStatus::kDamaged ||
      end->status == ScanStatus::kReadFailed) {
    *error = path + ": " + end->problem;
    return false;
  }
  if (end->status == ScanStatus::kCutShort) {
    end->problem = TornNote(*end, snapshot.size);
  }
  return true;
}

}  // namespace localqm
