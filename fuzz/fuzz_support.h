// What the fuzz targets share: a file that holds the input, since the
// readers take a path or an open file as a run does, and a way to check a
// property so that a broken one stops the fuzzer like a sanitizer fault.
#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace fuzz {

// Reports the broken property and aborts: libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                 \
  do {                                                                        \
    if (!(condition)) {                                                       \
      fprintf(::fuzz::Log(), "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
              #condition);                                                    \
      abort();                                                                \
    }                                                                         \
  } while (0)

// The real standard error, kept before SilenceStdio points stderr away.
inline FILE*& LogSlot() {
  static FILE* log = stderr;
  return log;
}
inline FILE* Log() { return LogSlot(); }

// Sends the C streams stdout and stderr to /dev/null so that the readers'
// console text costs no terminal time. File descriptors 1 and 2 stay as
// they are: sanitizer and libFuzzer reports go to descriptor 2 directly.
inline void SilenceStdio() {
  static bool done = false;
  if (done) return;
  done = true;
  LogSlot() = stderr;
  FILE* null = fopen("/dev/null", "w");
  if (null == nullptr) abort();
  stdout = null;
  stderr = null;
}

// One in-memory file per process (no disk writes), rewritten for each
// input and reached by a path short enough for the tool's 128 characters.
inline int InputFile() {
  static const int fd = memfd_create("msgreplay_fuzz_input", 0);
  if (fd < 0) abort();
  return fd;
}

inline const std::string& InputPath() {
  static const std::string path =
      "/proc/self/fd/" + std::to_string(InputFile());
  return path;
}

inline void WriteInput(const uint8_t* data, size_t size) {
  int fd = InputFile();
  if (ftruncate(fd, 0) != 0) abort();
  size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd, data + done, size - done, (off_t)done);
    if (n <= 0) abort();
    done += (size_t)n;
  }
}

// A folder of this process's own for targets that need real paths, in
// memory where /dev/shm is there; removed at exit.
inline const std::string& ScratchFolder() {
  static const std::string path = [] {
    char shm[] = "/dev/shm/msgreplay_fuzz_XXXXXX";
    char tmp[] = "/tmp/msgreplay_fuzz_XXXXXX";
    const char* made = mkdtemp(shm);
    if (made == nullptr) made = mkdtemp(tmp);
    if (made == nullptr) abort();
    return std::string(made);
  }();
  static const bool removed_at_exit =
      atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(ScratchFolder(), ignored);
      }) == 0;
  (void)removed_at_exit;
  return path;
}

inline void WriteFileBytes(const std::string& path, const uint8_t* data,
                           size_t size) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr || fwrite(data, 1, size, file) != size) abort();
  fclose(file);
}

inline std::string ReadFileBytes(const std::string& path) {
  std::string bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  fclose(file);
  return bytes;
}

}  // namespace fuzz

#endif  // FUZZ_FUZZ_SUPPORT_H
