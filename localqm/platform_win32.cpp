// The platform calls for Windows.
//
// Files are opened with every sharing mode, so that one process can read,
// append and remove a file while others hold it open, as on POSIX. Locks are
// LockFileEx over the whole file and belong to the handle. Unlike flock they
// are mandatory: only the handle that holds a lock may write while it is
// held, and nobody may read under an exclusive lock but its holder, which is
// how localqm uses them anyway.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h: declares RtlGenRandom (SystemFunction036 in ADVAPI32).
#include <ntsecapi.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "localqm/platform.h"
#include "mqi/mqi.h"

namespace localqm {
namespace platform {
namespace {

std::atomic<uint64_t> flush_count{0};
std::atomic<FlushObserver> flush_observer{nullptr};
std::atomic<uint32_t> removed_count{0};

// The error of this thread's last failed platform call; 0 after a success.
thread_local DWORD last_error = 0;

// The path each open handle was opened by, to tell whether its name still
// leads to it: Wine reports no pending delete, and a moved file keeps its
// old name there.
std::mutex paths_mutex;
std::map<FileHandle, std::string> opened_paths;

HANDLE Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

bool Fail() {
  last_error = GetLastError();
  if (last_error == 0) last_error = ERROR_GEN_FAILURE;
  return false;
}

bool Succeed() {
  last_error = 0;
  return true;
}

OpenResult Open(const std::string& path, DWORD access, DWORD disposition,
                FileHandle* file) {
  HANDLE handle =
      CreateFileA(path.c_str(), access,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    switch (last_error) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
        return OpenResult::kNotFound;
      case ERROR_FILE_EXISTS:
      case ERROR_ALREADY_EXISTS:
        return OpenResult::kExists;
      default:
        return OpenResult::kFailed;
    }
  }
  Succeed();
  *file = reinterpret_cast<FileHandle>(handle);
  std::lock_guard<std::mutex> hold(paths_mutex);
  opened_paths[*file] = path;
  return OpenResult::kOpened;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a,
              const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// Whether path, which file was opened by, now leads to another file or to
// none (a file pending deletion cannot be opened).
bool NameMovedOn(FileHandle file, const BY_HANDLE_FILE_INFORMATION& info) {
  std::string path;
  {
    std::lock_guard<std::mutex> hold(paths_mutex);
    auto found = opened_paths.find(file);
    if (found == opened_paths.end()) return false;
    path = found->second;
  }
  HANDLE now =
      CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (now == INVALID_HANDLE_VALUE) return true;
  BY_HANDLE_FILE_INFORMATION there;
  bool same = GetFileInformationByHandle(now, &there) && SameFile(info, there);
  CloseHandle(now);
  return !same;
}

// The whole file, from byte 0 to the largest offset there is.
OVERLAPPED FromStart() {
  OVERLAPPED at;
  std::memset(&at, 0, sizeof at);
  return at;
}

}  // namespace

OpenResult OpenForReading(const std::string& path, FileHandle* file) {
  return Open(path, GENERIC_READ, OPEN_EXISTING, file);
}

OpenResult OpenForAppending(const std::string& path, bool create,
                            bool exclusive, FileHandle* file) {
  DWORD disposition = OPEN_EXISTING;
  if (create) disposition = exclusive ? CREATE_NEW : OPEN_ALWAYS;
  return Open(path, GENERIC_READ | GENERIC_WRITE, disposition, file);
}

void CloseFile(FileHandle file) {
  if (file == kNoFile) return;
  {
    std::lock_guard<std::mutex> hold(paths_mutex);
    opened_paths.erase(file);
  }
  CloseHandle(Handle(file));
}

bool LockFile(FileHandle file, bool exclusive) {
  OVERLAPPED at = FromStart();
  DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (!LockFileEx(Handle(file), flags, 0, MAXDWORD, MAXDWORD, &at))
    return Fail();
  return Succeed();
}

void UnlockFile(FileHandle file) {
  OVERLAPPED at = FromStart();
  UnlockFileEx(Handle(file), 0, MAXDWORD, MAXDWORD, &at);
}

bool GetFileState(FileHandle file, FileState* state) {
  FILE_STANDARD_INFO standard;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandleEx(Handle(file), FileStandardInfo, &standard,
                                    sizeof standard) ||
      !GetFileInformationByHandle(Handle(file), &info)) {
    return Fail();
  }
  state->size = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
  state->removed = standard.DeletePending || NameMovedOn(file, info);
  return Succeed();
}

int64_t ReadAt(FileHandle file, uint64_t offset, void* buffer, size_t size) {
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    OVERLAPPED at = FromStart();
    uint64_t from = offset + done;
    at.Offset = static_cast<DWORD>(from);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
    DWORD n = 0;
    if (!ReadFile(Handle(file), out + done, chunk, &n, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      Fail();
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  Succeed();
  return static_cast<int64_t>(done);
}

// Joined into one buffer for one WriteFile: Windows has no writev for
// ordinary files. The caller holds the exclusive lock, so the end found by
// the seek is still the end when the write lands.
bool AppendAll(FileHandle file, const ConstBuffer* parts, int count) {
  std::string joined;
  for (int i = 0; i < count; ++i) {
    joined.append(static_cast<const char*>(parts[i].data), parts[i].size);
  }
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(Handle(file), zero, nullptr, FILE_END)) return Fail();
  size_t done = 0;
  while (done < joined.size()) {
    DWORD chunk =
        static_cast<DWORD>(std::min<size_t>(joined.size() - done, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(Handle(file), joined.data() + done, chunk, &n, nullptr)) {
      return Fail();
    }
    if (n == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return Fail();
    }
    done += n;
  }
  return Succeed();
}

bool Truncate(FileHandle file, uint64_t size) {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFileInformationByHandle(Handle(file), FileEndOfFileInfo, &end,
                                  sizeof end)) {
    return Fail();
  }
  return Succeed();
}

bool FlushToDisk(FileHandle file) {
  ++flush_count;
  if (!FlushFileBuffers(Handle(file))) return Fail();
  Succeed();
  if (FlushObserver observer = flush_observer.load()) observer(file);
  return true;
}

// NTFS makes a name's creation or removal durable in its own journal.
bool FlushFolder(const std::string&) { return Succeed(); }

uint64_t FlushCount() { return flush_count.load(); }

void SetFlushObserver(FlushObserver observer) { flush_observer = observer; }

// A removed file that is still open elsewhere keeps its name on Windows
// until the last handle closes, and the name cannot be made again until
// then. Moving it aside first frees the name at once, as unlink does.
bool IsFolder(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  // The search gives the name as it stands on disk, whatever case was asked.
  size_t slash = path.find_last_of("/\\");
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  return last == found.cFileName;
}

bool RemoveFile(const std::string& path) {
  std::string aside = path + ".removed-" +
                      std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(++removed_count);
  const std::string& doomed =
      MoveFileExA(path.c_str(), aside.c_str(), 0) ? aside : path;
  if (!DeleteFileA(doomed.c_str())) return Fail();
  return Succeed();
}

std::string LastErrorText() {
  if (last_error == 0) {
    return errno != 0 ? std::strerror(errno) : "unknown error";
  }
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, last_error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (n > 0 && text != nullptr) message.assign(text, n);
  LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' ||
          message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "error " + std::to_string(last_error);
  return message;
}

std::string UserName() {
  char name[257];
  DWORD size = sizeof name;
  if (GetUserNameA(name, &size) && size > 1) return std::string(name, size - 1);
  if (const char* env = std::getenv("USERNAME")) return env;
  return "";
}

std::string ProgramName() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, path.data(),
                                 static_cast<DWORD>(path.size()));
    if (n == 0) return "";
    if (n < path.size()) {
      std::string full(path.data(), n);
      size_t slash = full.find_last_of("\\/");
      return slash == std::string::npos ? full : full.substr(slash + 1);
    }
    path.resize(path.size() * 2);
  }
}

int32_t PutApplType() { return MQAT_WINDOWS_NT; }

uint64_t ProcessId() { return GetCurrentProcessId(); }

bool RandomBytes(void* buffer, size_t size) {
  auto* out = static_cast<char*>(buffer);
  while (size > 0) {
    ULONG chunk = static_cast<ULONG>(std::min<size_t>(size, 1u << 20));
    if (!RtlGenRandom(out, chunk)) return false;
    out += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace platform
}  // namespace localqm
