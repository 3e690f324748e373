// Replays fuzz inputs without libFuzzer: each file named on the command
// line, and each file in a folder named there, goes once through the
// target's LLVMFuzzerTestOneInput, in name order. A target that finds a
// fault aborts the process; the last name printed is the input that did it.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void AddInputs(const fs::path& path, std::vector<fs::path>* inputs) {
  if (!fs::is_directory(path)) {
    inputs->push_back(path);
    return;
  }
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
    // Dot files (.gitkeep) hold a folder in place; they are no inputs.
    if (entry.is_regular_file() &&
        entry.path().filename().string().front() != '.')
      found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  inputs->insert(inputs->end(), found.begin(), found.end());
}

int main(int argc, char** argv) {
  // A target may point stderr elsewhere to keep the reader's messages out.
  FILE* log = stderr;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; i++) AddInputs(argv[i], &inputs);
  if (inputs.empty()) {
    fprintf(log, "no fuzz inputs found\n");
    return 1;
  }
  for (const fs::path& input : inputs) {
    fprintf(log, "%s\n", input.c_str());
    fflush(log);
    std::ifstream in(input, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)),
                      std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      fprintf(log, "cannot read %s\n", input.c_str());
      return 1;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()),
                           bytes.size());
  }
  fprintf(log, "%zu inputs replayed\n", inputs.size());
  return 0;
}
