// Runs a program as a child process for tests, capturing its standard
// output, its standard error and its exit status.
#ifndef TESTS_RUN_PROGRAM_H
#define TESTS_RUN_PROGRAM_H

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/record_builder.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace testing_records {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string Quote(const std::string& arg) {
#ifdef _WIN32
  return "\"" + arg + "\"";
#else
  std::string quoted = "'";
  for (char c : arg)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

inline void SetEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void UnsetEnv(const std::string& name) {
#ifdef _WIN32
  _putenv_s(name.c_str(), "");
#else
  unsetenv(name.c_str());
#endif
}

// Runs command (already quoted, a program and perhaps a launcher before it)
// with args; its output goes through files in dir.
inline RunResult RunProgram(const std::string& command,
                            const std::vector<std::string>& args,
                            const std::filesystem::path& dir) {
  const std::string out = (dir / "stdout.txt").string();
  const std::string err = (dir / "stderr.txt").string();
  std::string line = command;
  for (const std::string& arg : args) line += " " + Quote(arg);
  line += " <" +
          Quote(
#ifdef _WIN32
              "NUL"
#else
              "/dev/null"
#endif
              ) +
          " >" + Quote(out) + " 2>" + Quote(err);
#ifdef _WIN32
  // cmd.exe strips the outer quotes of a line that starts with one.
  line = "\"" + line + "\"";
#endif
  int raw = system(line.c_str());
  RunResult result;
#ifdef _WIN32
  result.status = raw;
#else
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

}  // namespace testing_records

#endif  // TESTS_RUN_PROGRAM_H
