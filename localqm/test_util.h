// Helpers shared by localqm's tests: scratch folders, whole files, and
// running the localqm program.
#ifndef LOCALQM_TEST_UTIL_H
#define LOCALQM_TEST_UTIL_H

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace localqm {
namespace test {

// A new empty folder under the system's temporary folder.
inline std::string ScratchFolder() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "localqm_test.XXXXXX").string();
  return mkdtemp(pattern.data());
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
  std::string command = "'" LOCALQM_PROGRAM "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " >" + scratch + "/out 2>" + scratch + "/err";
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          ReadWhole(scratch + "/out"), ReadWhole(scratch + "/err")};
}

}  // namespace test
}  // namespace localqm

#endif  // LOCALQM_TEST_UTIL_H
