#include "buffer_file/input_file.h"

#include <errno.h>
#include <sys/stat.h>

FILE* OpenInputFile(const char* path) {
  errno = 0;
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return nullptr;
#ifndef _WIN32
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
    fclose(file);
    errno = EISDIR;
    return nullptr;
  }
#endif
  return file;
}
