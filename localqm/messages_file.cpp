#include "localqm/messages_file.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "mqi/mqi.h"

namespace localqm {
namespace {

int32_t ReadLE32(const uint8_t* bytes) {
  uint32_t value = static_cast<uint32_t>(bytes[0]) |
                   static_cast<uint32_t>(bytes[1]) << 8 |
                   static_cast<uint32_t>(bytes[2]) << 16 |
                   static_cast<uint32_t>(bytes[3]) << 24;
  return static_cast<int32_t>(value);
}

std::string Where(uint64_t number, uint64_t offset) {
  return "record " + std::to_string(number) + " at offset " +
         std::to_string(offset);
}

class MemorySource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int64_t Read(uint64_t offset, uint8_t* out, size_t count) {
    if (offset >= size_) return 0;
    size_t n = std::min<uint64_t>(count, size_ - offset);
    std::memcpy(out, data_ + offset, n);
    return static_cast<int64_t>(n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

// Reads through a window so that a scan over many small records costs one
// system call per window, not per record.
class FileSource {
 public:
  FileSource(platform::FileHandle file, uint64_t end)
      : file_(file), end_(end), window_(64 * 1024) {}
  int64_t Read(uint64_t offset, uint8_t* out, size_t count) {
    if (count > window_.size())
      return platform::ReadAt(file_, offset, out, count);
    if (offset < start_ || offset + count > start_ + filled_) {
      uint64_t want =
          std::min<uint64_t>(window_.size(), end_ > offset ? end_ - offset : 0);
      int64_t got = platform::ReadAt(file_, offset, window_.data(), want);
      if (got < 0) return -1;
      start_ = offset;
      filled_ = static_cast<size_t>(got);
    }
    size_t n = std::min<uint64_t>(count, start_ + filled_ - offset);
    std::memcpy(out, window_.data() + (offset - start_), n);
    return static_cast<int64_t>(n);
  }

 private:
  platform::FileHandle file_;
  uint64_t end_;
  std::vector<uint8_t> window_;
  uint64_t start_ = 0;
  size_t filled_ = 0;
};

template <typename Source>
ScanResult Scan(Source& source, uint64_t start, uint64_t end,
                uint64_t records_before, size_t head_limit,
                const RecordVisitor& visit) {
  ScanResult result;
  result.records = records_before;
  result.whole_end = start;
  std::vector<uint8_t> head(std::max<size_t>(head_limit, 4));
  uint64_t offset = start;
  while (offset < end) {
    uint64_t number = result.records + 1;
    uint8_t prefix[kPrefixSize];
    int64_t got = end - offset < kPrefixSize
                      ? 0
                      : source.Read(offset, prefix, kPrefixSize);
    if (got < 0) {
      result.status = ScanStatus::kReadFailed;
      result.problem = Where(number, offset) + ": " + platform::LastErrorText();
      return result;
    }
    if (got < static_cast<int64_t>(kPrefixSize)) {
      result.status = ScanStatus::kCutShort;
      return result;
    }
    int32_t body_size = ReadLE32(prefix);
    if (body_size < static_cast<int32_t>(kHeaderSize) ||
        body_size > kMaxBodySize) {
      result.status = ScanStatus::kDamaged;
      result.problem = Where(number, offset) + ": length " +
                       std::to_string(body_size) + " is out of range";
      return result;
    }
    uint64_t body_start = offset + kPrefixSize;
    if (end - body_start < static_cast<uint64_t>(body_size)) {
      result.status = ScanStatus::kCutShort;
      return result;
    }
    size_t head_size =
        std::min<size_t>(head.size(), static_cast<size_t>(body_size));
    got = source.Read(body_start, head.data(), head_size);
    if (got < 0) {
      result.status = ScanStatus::kReadFailed;
      result.problem = Where(number, offset) + ": " + platform::LastErrorText();
      return result;
    }
    if (got < static_cast<int64_t>(head_size)) {
      result.status = ScanStatus::kCutShort;
      return result;
    }
    if (std::memcmp(head.data(), MQXQH_STRUC_ID, 4) != 0) {
      result.status = ScanStatus::kDamaged;
      result.problem = Where(number, offset) + ": no XQH header";
      return result;
    }
    if (visit) {
      visit({number, offset, static_cast<uint32_t>(body_size), head.data(),
             std::min(head_size, head_limit)});
    }
    offset = body_start + static_cast<uint64_t>(body_size);
    result.records = number;
    result.whole_end = offset;
  }
  return result;
}

}  // namespace

ScanResult ScanMessages(const uint8_t* data, size_t size) {
  MemorySource source(data, size);
  return Scan(source, 0, size, 0, 0, nullptr);
}

ScanResult ScanMessagesFile(platform::FileHandle file, uint64_t start,
                            uint64_t end, uint64_t records_before,
                            size_t head_limit, const RecordVisitor& visit) {
  FileSource source(file, end);
  return Scan(source, start, end, records_before, head_limit, visit);
}

MessagesFile::MessagesFile(std::string path) : path_(std::move(path)) {}

MessagesFile::~MessagesFile() { Close(); }

void MessagesFile::Close() {
  platform::CloseFile(file_);
  file_ = platform::kNoFile;
  known_end_ = 0;
  known_depth_ = 0;
}

int32_t MessagesFile::Fail(std::string problem) {
  problem_ = std::move(problem);
  return MQRC_RESOURCE_PROBLEM;
}

// Opens the file where it is not open, and locks it. A file removed by a
// clear while this handle had it open is closed, and the path opened again.
MessagesFile::Locked MessagesFile::OpenAndLock(bool create, bool* created) {
  for (;;) {
    if (file_ == platform::kNoFile) {
      platform::OpenResult result =
          platform::OpenForAppending(path_, create, true, &file_);
      if (result == platform::OpenResult::kExists) {
        result = platform::OpenForAppending(path_, false, false, &file_);
      } else if (result == platform::OpenResult::kOpened) {
        *created = create;
      }
      if (result == platform::OpenResult::kNotFound) {
        file_ = platform::kNoFile;
        if (!create) return Locked::kAbsent;
        continue;
      }
      if (result != platform::OpenResult::kOpened) {
        file_ = platform::kNoFile;
        problem_ = path_ + ": " + platform::LastErrorText();
        return Locked::kFailed;
      }
      known_end_ = 0;
      known_depth_ = 0;
    }
    platform::FileState state;
    if (!platform::LockFile(file_, true)) {
      problem_ = path_ + ": cannot lock: " + platform::LastErrorText();
      Close();
      return Locked::kFailed;
    }
    if (!platform::GetFileState(file_, &state)) {
      problem_ = path_ + ": " + platform::LastErrorText();
      platform::UnlockFile(file_);
      Close();
      return Locked::kFailed;
    }
    if (!state.removed) {
      size_ = state.size;
      return Locked::kYes;
    }
    platform::UnlockFile(file_);
    Close();
    *created = false;
  }
}

int32_t MessagesFile::Append(const platform::ConstBuffer* parts, int count,
                             uint64_t record_size, int64_t max_depth,
                             bool flush) {
  problem_.clear();
  bool created = false;
  Locked locked = OpenAndLock(false, &created);
  if (locked == Locked::kAbsent) {
    if (max_depth <= 0) return MQRC_Q_FULL;
    locked = OpenAndLock(true, &created);
  }
  if (locked != Locked::kYes) return MQRC_RESOURCE_PROBLEM;

  // Within the lock: learn what others appended since this handle last
  // looked. A file shorter than that was cut back by hand; read it anew.
  if (size_ < known_end_) {
    known_end_ = 0;
    known_depth_ = 0;
  }
  if (size_ > known_end_) {
    ScanResult scan = ScanMessagesFile(file_, known_end_, size_, known_depth_);
    if (scan.status == ScanStatus::kDamaged ||
        scan.status == ScanStatus::kReadFailed) {
      platform::UnlockFile(file_);
      return Fail(path_ + ": " + scan.problem);
    }
    known_end_ = scan.whole_end;
    known_depth_ = scan.records;
  }
  if (known_depth_ >= static_cast<uint64_t>(std::max<int64_t>(max_depth, 0))) {
    platform::UnlockFile(file_);
    return MQRC_Q_FULL;
  }

  int32_t reason = MQRC_NONE;
  if (size_ > known_end_ && !platform::Truncate(file_, known_end_)) {
    reason = Fail(path_ + ": cannot cut the torn last record: " +
                  platform::LastErrorText());
  } else if (!platform::AppendAll(file_, parts, count)) {
    reason = Fail(path_ + ": " + platform::LastErrorText());
  } else if (flush && !platform::FlushToDisk(file_)) {
    reason = Fail(path_ + ": cannot flush: " + platform::LastErrorText());
  } else if (flush && created) {
    std::string folder = path_.substr(0, path_.rfind('/'));
    if (!platform::FlushFolder(folder)) {
      reason = Fail(folder + ": cannot flush: " + platform::LastErrorText());
    }
  }
  if (reason == MQRC_NONE) {
    known_end_ += record_size;
    ++known_depth_;
    platform::UnlockFile(file_);
    return reason;
  }
  platform::Truncate(file_, known_end_);
  if (created && known_end_ == 0) {
    // The file did not exist before this put; leave it so.
    platform::RemoveFile(path_);
    platform::UnlockFile(file_);
    Close();
    return reason;
  }
  platform::UnlockFile(file_);
  return reason;
}

bool OpenSnapshot(const std::string& path, MessagesSnapshot* snapshot,
                  std::string* error) {
  for (;;) {
    platform::FileHandle file = platform::kNoFile;
    platform::OpenResult result = platform::OpenForReading(path, &file);
    if (result == platform::OpenResult::kNotFound) {
      *snapshot = MessagesSnapshot();
      return true;
    }
    if (result != platform::OpenResult::kOpened) {
      *error = path + ": " + platform::LastErrorText();
      return false;
    }
    platform::FileState state;
    bool ok =
        platform::LockFile(file, false) && platform::GetFileState(file, &state);
    if (!ok) *error = path + ": " + platform::LastErrorText();
    platform::UnlockFile(file);
    if (ok && !state.removed) {
      snapshot->file = file;
      snapshot->size = state.size;
      return true;
    }
    platform::CloseFile(file);
    if (!ok) return false;
  }
}

bool ClearMessages(const std::string& path, std::string* error) {
  for (;;) {
    platform::FileHandle file = platform::kNoFile;
    platform::OpenResult result =
        platform::OpenForAppending(path, false, false, &file);
    if (result == platform::OpenResult::kNotFound) return true;
    if (result != platform::OpenResult::kOpened) {
      *error = path + ": " + platform::LastErrorText();
      return false;
    }
    platform::FileState state;
    bool ok =
        platform::LockFile(file, true) && platform::GetFileState(file, &state);
    if (ok && !state.removed) {
      ok = platform::RemoveFile(path);
      if (ok) platform::FlushFolder(path.substr(0, path.rfind('/')));
      if (!ok) *error = path + ": cannot remove: " + platform::LastErrorText();
      platform::UnlockFile(file);
      platform::CloseFile(file);
      return ok;
    }
    if (!ok) *error = path + ": " + platform::LastErrorText();
    platform::UnlockFile(file);
    platform::CloseFile(file);
    if (!ok) return false;
  }
}

}  // namespace localqm
