// Times the puts of one msgreplay run from its output: runs the program with
// its standard output on a pipe, counts the "MQPUT" lines as they arrive,
// and notes when the count reaches each MARK, with the wall-clock seconds
// since the start and the processor seconds the program had used by then
// (from /proc, so Linux only; 10 ms steps). The tool's redirected output
// comes in 64 KiB pieces, so each mark is late by at most one piece, a few
// hundred records. At the end it notes the program's totals, peak resident
// memory and exit status. Prints, one a line:
//
//   MARK WALL USER SYSTEM
//   end WALL USER SYSTEM MAX_RSS_KIB STATUS PUTS
//
//   put_clock MARK... -- PROGRAM [ARG...]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static const char kPutLine[] = "\nMQPUT ";
static const size_t kPutLineSize = sizeof kPutLine - 1;

static double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// The user and system seconds that process pid has used so far.
static void ProcessorTime(pid_t pid, double* user, double* system) {
  char path[64], text[1024];
  snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
  *user = *system = -1;
  FILE* file = fopen(path, "r");
  if (file == nullptr) return;
  size_t size = fread(text, 1, sizeof text - 1, file);
  fclose(file);
  text[size] = '\0';
  // The fields after the command name, which may hold blanks: state is 3rd,
  // utime the 14th and stime the 15th.
  const char* after = strrchr(text, ')');
  unsigned long utime = 0, stime = 0;
  if (after == nullptr ||
      sscanf(after + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
             &utime, &stime) != 2)
    return;
  double tick = (double)sysconf(_SC_CLK_TCK);
  *user = (double)utime / tick;
  *system = (double)stime / tick;
}

static double Seconds(const timeval& t) {
  return (double)t.tv_sec + (double)t.tv_usec / 1e6;
}

int main(int argc, char** argv) {
  int marks = 0;
  while (marks + 1 < argc && strcmp(argv[marks + 1], "--") != 0) marks++;
  if (marks + 2 >= argc) {
    fprintf(stderr, "usage: put_clock MARK... -- PROGRAM [ARG...]\n");
    return 2;
  }
  long* mark = (long*)calloc((size_t)marks + 1, sizeof(long));
  for (int i = 0; i < marks; i++) mark[i] = atol(argv[i + 1]);

  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) {
    perror("pipe");
    return 1;
  }
  double start = Now();
  pid_t child = fork();
  if (child < 0) {
    perror("fork");
    return 1;
  }
  if (child == 0) {
    dup2(pipe_ends[1], 1);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    execvp(argv[marks + 2], argv + marks + 2);
    perror(argv[marks + 2]);
    _exit(127);
  }
  close(pipe_ends[1]);

  // The tail of the previous piece is kept, so a line split between two
  // pieces is counted once.
  static char buffer[(1 << 16) + sizeof kPutLine];
  size_t kept = 0;
  long puts = 0;
  int next = 0;
  for (;;) {
    ssize_t n = read(pipe_ends[0], buffer + kept, sizeof buffer - kept);
    if (n <= 0) break;
    size_t size = kept + (size_t)n;
    const char* at = buffer;
    const char* end = buffer + size;
    while ((at = (const char*)memmem(at, (size_t)(end - at), kPutLine,
                                     kPutLineSize)) != nullptr) {
      puts++;
      at += kPutLineSize;
    }
    if (next < marks && puts >= mark[next]) {
      double wall = Now() - start, user, system;
      ProcessorTime(child, &user, &system);
      while (next < marks && puts >= mark[next])
        printf("%ld %.6f %.2f %.2f\n", mark[next++], wall, user, system);
    }
    kept = size < kPutLineSize - 1 ? size : kPutLineSize - 1;
    memmove(buffer, end - kept, kept);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) != child) {
    perror("wait4");
    return 1;
  }
  double wall = Now() - start;
  for (; next < marks; next++) printf("%ld never\n", mark[next]);
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  printf("end %.6f %.2f %.2f %ld %d %ld\n", wall, Seconds(usage.ru_utime),
         Seconds(usage.ru_stime), (long)usage.ru_maxrss, code, puts);
  return 0;
}
