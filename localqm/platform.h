// The few calls localqm needs from the operating system: files opened by
// handle, whole-file locks, flushing to stable storage, and the names and
// random bytes that go into a put's context. Everything else in localqm is
// portable C++; platform_posix.cpp implements this header for POSIX, and a
// Windows file can implement it beside it.
#ifndef LOCALQM_PLATFORM_H
#define LOCALQM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace localqm {
namespace platform {

// A file descriptor on POSIX, a HANDLE on Windows.
using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

enum class OpenResult { kOpened, kNotFound, kExists, kFailed };

// Opens path for reading.
OpenResult OpenForReading(const std::string& path, FileHandle* file);
// Opens path for reading and appending. With create set, makes it when it
// is missing; with exclusive set as well, fails with kExists when it is not.
OpenResult OpenForAppending(const std::string& path, bool create,
                            bool exclusive, FileHandle* file);
void CloseFile(FileHandle file);

// Blocks until this handle holds a lock on the whole file: exclusive for
// writers, shared for readers. A lock belongs to the handle, so two handles
// on one file in one process exclude each other as two processes do.
bool LockFile(FileHandle file, bool exclusive);
void UnlockFile(FileHandle file);

struct FileState {
  uint64_t size = 0;
  // The file's name has been removed since it was opened (localqm clear).
  bool removed = false;
};
bool GetFileState(FileHandle file, FileState* state);

// Reads up to size bytes at offset; returns the count read (short only at
// the end of the file), or -1 on an error.
int64_t ReadAt(FileHandle file, uint64_t offset, void* buffer, size_t size);

struct ConstBuffer {
  const void* data;
  size_t size;
};
// Appends the parts in order, as one write where the system allows.
bool AppendAll(FileHandle file, const ConstBuffer* parts, int count);
bool Truncate(FileHandle file, uint64_t size);

// Puts the file's data on stable storage (fdatasync, FlushFileBuffers).
bool FlushToDisk(FileHandle file);
// Makes the creation or removal of a name in a folder durable (no-op where
// the system does it with the file's own flush).
bool FlushFolder(const std::string& path);

// Durability seam for tests: counts FlushToDisk calls, and calls the
// observer (where set) after each successful flush with the flushed file.
uint64_t FlushCount();
using FlushObserver = void (*)(FileHandle file);
void SetFlushObserver(FlushObserver observer);

bool RemoveFile(const std::string& path);

// Whether path is a folder whose own name is exactly the last part of path,
// letter case included: names are case-sensitive, Windows file names not.
bool IsFolder(const std::string& path);

// The text of the last failed call's error number, for messages.
std::string LastErrorText();

// The user this process runs as, and the file name of its program.
std::string UserName();
std::string ProgramName();
// MQMD PutApplType for this platform: MQAT_UNIX or MQAT_WINDOWS_NT.
int32_t PutApplType();

uint64_t ProcessId();
// Fills buffer with bytes from the system's random source.
bool RandomBytes(void* buffer, size_t size);

}  // namespace platform
}  // namespace localqm

#endif  // LOCALQM_PLATFORM_H
