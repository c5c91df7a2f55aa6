// What the fuzz targets share: the libFuzzer entry point's signature, a
// private scratch folder for targets that read files, and a way to cut one
// input into several texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace varnolt::fuzz {

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The pieces of text between separator lines ("\n--\n"), so that one input can
// carry a file name, a setting and a file at once; missing pieces are empty.
std::vector<std::string_view> SplitPieces(std::string_view text, size_t count);

// A folder of its own for this process, made on first use and removed at exit.
const std::string& ScratchFolder();

// Replaces the file at path (inside the scratch folder) with bytes.
void WriteScratchFile(const std::string& path, std::string_view bytes);

}  // namespace varnolt::fuzz
