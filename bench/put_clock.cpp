// Times the puts of one msgreplay run from its output, read on standard
// input through a pipe: for each MARK (a count of puts), the seconds from
// this program's start until the output reporting that put arrived. The
// tool's redirected output comes in 64 KiB pieces, so each time is late by
// at most one piece (a few hundred records). Prints "MARK SECONDS" lines,
// then "end SECONDS PUTS".
//
//   msgreplay SETTINGS | put_clock MARK...
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static const char kPutLine[] = "\nMQPUT ";
static const size_t kPutLineSize = sizeof kPutLine - 1;

static double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  double start = Now();
  int marks = argc - 1;
  long* mark = (long*)calloc((size_t)marks + 1, sizeof(long));
  double* seen = (double*)calloc((size_t)marks + 1, sizeof(double));
  for (int i = 0; i < marks; i++) mark[i] = atol(argv[i + 1]);

  // The tail of the previous piece is kept, so a line split between two
  // pieces is counted once.
  static char buffer[(1 << 16) + sizeof kPutLine];
  size_t kept = 0;
  long puts = 0;
  int next = 0;
  for (;;) {
    ssize_t n = read(0, buffer + kept, sizeof buffer - kept);
    if (n <= 0) break;
    double now = Now();
    size_t size = kept + (size_t)n;
    const char* at = buffer;
    const char* end = buffer + size;
    while ((at = (const char*)memmem(at, (size_t)(end - at), kPutLine,
                                     kPutLineSize)) != nullptr) {
      puts++;
      at += kPutLineSize;
    }
    while (next < marks && puts >= mark[next]) seen[next++] = now;
    kept = size < kPutLineSize - 1 ? size : kPutLineSize - 1;
    memmove(buffer, end - kept, kept);
  }
  double finish = Now();
  for (int i = 0; i < marks; i++) {
    if (i < next)
      printf("%ld %.6f\n", mark[i], seen[i] - start);
    else
      printf("%ld never\n", mark[i]);
  }
  printf("end %.6f %ld\n", finish - start, puts);
  return 0;
}
