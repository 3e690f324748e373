// Opening a file that the tool only reads.
#ifndef BUFFER_FILE_INPUT_FILE_H
#define BUFFER_FILE_INPUT_FILE_H

#include <stdio.h>

// Opens path for reading in binary. On failure returns null with errno set
// to the platform's error number. A directory cannot be opened as a file,
// as on Windows: on POSIX it fails with EISDIR.
FILE* OpenInputFile(const char* path);

#endif  // BUFFER_FILE_INPUT_FILE_H
