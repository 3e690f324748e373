// A queue's messages file: its messages oldest first, in the message buffer
// file format that msgreplay replays, so a queue can be replayed as it
// stands. No file header, no gaps:
//
//   record := length body
//   length := 4 bytes, little-endian signed: the body's size, 428 or more
//   body   := MQXQH (428 bytes: StrucId "XQH ", Version 1, RemoteQName and
//             RemoteQMgrName blank padded to 48, then the stored MQMD
//             version 1 at byte 104), then the message data
//
// Integers inside the MQXQH and MQMD are in the machine's own encoding, as
// the structures are passed to the MQI. A missing file means an empty queue.
//
// A crash of the machine can leave the last record cut short; the next put
// cuts the file back to the end of its last whole record before it appends.
// A record whose length is out of range, or whose body does not start with
// "XQH ", is damage rather than a torn write: puts refuse such a file.
//
// Writers hold an exclusive lock on the file for each put; a reader takes a
// shared lock only to learn the size, since appends never change the bytes
// before the end. Clearing removes the file under the exclusive lock; a
// writer that waited on the old file sees it was removed and opens anew.
#ifndef LOCALQM_MESSAGES_FILE_H
#define LOCALQM_MESSAGES_FILE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "localqm/attributes.h"
#include "localqm/platform.h"

namespace localqm {

constexpr size_t kPrefixSize = 4;
constexpr size_t kHeaderSize = 428;
constexpr size_t kMsgDescOffset = 104;
constexpr int64_t kMaxBodySize = kHeaderSize + kMaxMaxMsgLength;

enum class ScanStatus {
  kEnd,         // the bytes end with a whole record (or are empty)
  kCutShort,    // the last record is cut short: a torn tail
  kDamaged,     // a whole record that is not a message
  kReadFailed,  // the file could not be read
};

struct ScanResult {
  ScanStatus status = ScanStatus::kEnd;
  uint64_t records = 0;    // whole records before whole_end
  uint64_t whole_end = 0;  // the end of the last whole record
  std::string problem;     // for kDamaged and kReadFailed: what and where
};

// One whole record as a scan passes it: where it starts, its body's size,
// and the first bytes of its body (as many as were asked for).
struct RecordView {
  uint64_t number;  // from 1
  uint64_t offset;
  uint32_t body_size;
  const uint8_t* head;
  size_t head_size;
};
using RecordVisitor = std::function<void(const RecordView&)>;

// Scans a messages file held in memory; safe for any bytes.
ScanResult ScanMessages(const uint8_t* data, size_t size);

// Scans bytes [start, end) of an open messages file, start being the start
// of a record and records_before the number of records before it. Where
// visit is set it sees each whole record with up to head_limit body bytes.
ScanResult ScanMessagesFile(platform::FileHandle file, uint64_t start,
                            uint64_t end, uint64_t records_before,
                            size_t head_limit = 0,
                            const RecordVisitor& visit = nullptr);

// One queue's messages file as a writer holds it: open between puts, with
// its size and depth remembered so that a put reads only what other
// processes appended since.
class MessagesFile {
 public:
  explicit MessagesFile(std::string path);
  ~MessagesFile();
  MessagesFile(const MessagesFile&) = delete;
  MessagesFile& operator=(const MessagesFile&) = delete;

  // Appends one record made of parts (record_size bytes in all), flushing it
  // to stable storage when flush is set. Returns MQRC_NONE, MQRC_Q_FULL when
  // the queue already holds max_depth messages, or MQRC_RESOURCE_PROBLEM
  // when the file is damaged or cannot be written; on failure the file is
  // as it was.
  int32_t Append(const platform::ConstBuffer* parts, int count,
                 uint64_t record_size, int64_t max_depth, bool flush);

  // Why the last Append failed with MQRC_RESOURCE_PROBLEM.
  const std::string& problem() const { return problem_; }

 private:
  enum class Locked { kYes, kAbsent, kFailed };
  Locked OpenAndLock(bool create, bool* created);
  void Close();
  int32_t Fail(std::string problem);

  std::string path_;
  platform::FileHandle file_ = platform::kNoFile;
  uint64_t size_ = 0;  // as found on locking
  uint64_t known_end_ = 0;
  uint64_t known_depth_ = 0;
  std::string problem_;
};

// What a reader sees of a messages file: its size when the reader looked.
// A missing file reads as empty.
struct MessagesSnapshot {
  platform::FileHandle file = platform::kNoFile;
  uint64_t size = 0;
};
bool OpenSnapshot(const std::string& path, MessagesSnapshot* snapshot,
                  std::string* error);

// Empties a queue by removing its messages file under the writers' lock.
bool ClearMessages(const std::string& path, std::string* error);

}  // namespace localqm

#endif  // LOCALQM_MESSAGES_FILE_H
