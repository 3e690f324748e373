// The least that a replay onto a file-backed queue must do: read the buffer
// file record by record, one buffered read of the length prefix and one of
// the body (as the tool does), and append each record to OUTPUT with one
// write. With --fsync or --fdatasync every write is followed by that flush,
// the floor for persistent puts. With --lock every write is made as a put
// that other processes may share the file with must make it: under an
// exclusive flock, after asking the size (what they appended) and the link
// count (whether the file was removed). Shows nothing and checks nothing
// else.
//
//   replay_floor INPUT OUTPUT [--fsync|--fdatasync|--lock]
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#define PREFIX_SIZE 4
#define MAX_BODY 10000

static unsigned char Record[PREFIX_SIZE + MAX_BODY];

static long ReadLE32(const unsigned char* bytes) {
  return (long)(int32_t)((uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 |
                         (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24);
}

static bool WriteAll(int fd, const unsigned char* bytes, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, bytes, size);
    if (n <= 0) return false;
    bytes += n;
    size -= (size_t)n;
  }
  return true;
}

// The size and link count, as cheaply as the system allows: fstat would
// also read the times, which makes every later write update them finely.
static bool AskSize(int fd) {
#if defined(__linux__) && defined(STATX_SIZE)
  struct statx details;
  return statx(fd, "", AT_EMPTY_PATH, STATX_SIZE | STATX_NLINK, &details) == 0;
#else
  struct stat state;
  return fstat(fd, &state) == 0;
#endif
}

int main(int argc, char** argv) {
  enum { kPlain, kFsync, kFdatasync, kLock } mode = kPlain;
  if (argc == 4 && strcmp(argv[3], "--fsync") == 0) mode = kFsync;
  if (argc == 4 && strcmp(argv[3], "--fdatasync") == 0) mode = kFdatasync;
  if (argc == 4 && strcmp(argv[3], "--lock") == 0) mode = kLock;
  if (argc != 3 && !(argc == 4 && mode != kPlain)) {
    fprintf(stderr,
            "usage: replay_floor INPUT OUTPUT [--fsync|--fdatasync|--lock]\n");
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  if (in == nullptr) {
    perror(argv[1]);
    return 1;
  }
  int out = open(argv[2], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (out < 0) {
    perror(argv[2]);
    return 1;
  }
  long records = 0;
  while (fread(Record, 1, PREFIX_SIZE, in) == PREFIX_SIZE) {
    long length = ReadLE32(Record);
    if (length < 0 || length > MAX_BODY ||
        fread(Record + PREFIX_SIZE, 1, (size_t)length, in) != (size_t)length) {
      fprintf(stderr, "%s: record %ld is damaged\n", argv[1], records + 1);
      return 1;
    }
    if (mode == kLock && (flock(out, LOCK_EX) != 0 || !AskSize(out))) {
      perror(argv[2]);
      return 1;
    }
    bool written = WriteAll(out, Record, PREFIX_SIZE + (size_t)length);
    if (written && mode == kFsync) written = fsync(out) == 0;
    if (written && mode == kFdatasync) written = fdatasync(out) == 0;
    if (mode == kLock) flock(out, LOCK_UN);
    if (!written) {
      perror(argv[2]);
      return 1;
    }
    records++;
  }
  if (ferror(in)) {
    perror(argv[1]);
    return 1;
  }
  fclose(in);
  return close(out) == 0 ? 0 : 1;
}
