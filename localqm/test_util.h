// Helpers shared by localqm's tests: scratch folders, whole files, and
// running the localqm program.
#ifndef LOCALQM_TEST_UTIL_H
#define LOCALQM_TEST_UTIL_H

#include <stdlib.h>
#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace localqm {
namespace test {

// A new empty folder under the system's temporary folder.
inline std::string ScratchFolder() {
#ifdef _WIN32
  // No mkdtemp: the process id and a count, taken where the name is new.
  static int count = 0;
  for (;;) {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("localqm_test." + std::to_string(_getpid()) + "." +
         std::to_string(++count));
    if (std::filesystem::create_directory(folder)) return folder.string();
  }
#else
  std::string pattern =
      (std::filesystem::temp_directory_path() / "localqm_test.XXXXXX").string();
  return mkdtemp(pattern.data());
#endif
}

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct ProgramRun {
  int status;
  std::string out;
  std::string err;
};

// Runs the localqm program with args, LOCALQM_ROOT as the test left it.
inline ProgramRun RunProgram(const std::vector<std::string>& args) {
  static const std::string scratch = ScratchFolder();
#ifdef _WIN32
  // cmd.exe quotes with double quotes, and strips the outer pair from a
  // line that starts with one.
  std::string command = "\"\"" LOCALQM_PROGRAM "\"";
  for (const std::string& arg : args) command += " \"" + arg + "\"";
  command += " >\"" + scratch + "/out\" 2>\"" + scratch + "/err\"\"";
  int status = std::system(command.c_str());
#else
  std::string command = "'" LOCALQM_PROGRAM "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " >" + scratch + "/out 2>" + scratch + "/err";
  int raw = std::system(command.c_str());
  int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
#ifdef _WIN32
  // The program writes text: each line feed reached the file as CR LF.
  auto text = [](std::string bytes) {
    for (size_t at = bytes.find("\r\n"); at != std::string::npos;
         at = bytes.find("\r\n", at)) {
      bytes.erase(at, 1);
    }
    return bytes;
  };
  return {status, text(ReadWhole(scratch + "/out")),
          text(ReadWhole(scratch + "/err"))};
#else
  return {status, ReadWhole(scratch + "/out"), ReadWhole(scratch + "/err")};
#endif
}

}  // namespace test
}  // namespace localqm

#endif  // LOCALQM_TEST_UTIL_H
