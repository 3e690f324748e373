// Runs a program and writes its wall-clock time, its peak resident memory,
// its exit status and its processor time in user and system mode to RESULT,
// one "seconds max_rss_kib status user_seconds system_seconds" line. The
// program's own standard streams are left as they are, so a redirection of
// this command's output applies to the program.
//
//   measure RESULT PROGRAM [ARG...]
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static double Seconds(const timeval& t) {
  return (double)t.tv_sec + (double)t.tv_usec / 1e6;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: measure RESULT PROGRAM [ARG...]\n");
    return 2;
  }
  FILE* result = fopen(argv[1], "w");
  if (result == nullptr) {
    perror(argv[1]);
    return 1;
  }
  double start = Now();
  pid_t child = fork();
  if (child < 0) {
    perror("fork");
    return 1;
  }
  if (child == 0) {
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) != child) {
    perror("wait4");
    return 1;
  }
  double seconds = Now() - start;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  fprintf(result, "%.6f %ld %d %.6f %.6f\n", seconds, (long)usage.ru_maxrss,
          code, Seconds(usage.ru_utime), Seconds(usage.ru_stime));
  return fclose(result) == 0 ? 0 : 1;
}
