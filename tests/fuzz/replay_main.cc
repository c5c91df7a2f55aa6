// The fuzz targets without libFuzzer: runs the target once on every file
// given, or found below a folder given, in name order. A fault ends the
// program as it would end a fuzzing run; a missing folder holds no inputs.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;

void Collect(const fs::path& path, std::vector<fs::path>* inputs) {
  std::error_code error;
  if (fs::is_regular_file(path, error)) {
    inputs->push_back(path);
    return;
  }
  if (!fs::is_directory(path, error)) return;
  for (const auto& entry : fs::recursive_directory_iterator(path)) {
    // Dot files keep empty folders in git; they are no inputs.
    if (entry.is_regular_file() && entry.path().filename().string().front() != '.') inputs->push_back(entry.path());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) Collect(argv[i], &inputs);
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "cannot read %s\n", input.c_str());
      return 1;
    }
    // A copy of exactly the input's size, so that a read past its end is one.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
