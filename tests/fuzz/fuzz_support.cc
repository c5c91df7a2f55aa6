#include "fuzz/fuzz_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace varnolt::fuzz {
namespace {

constexpr std::string_view kSeparator = "\n--\n";

std::string MakeScratchFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/varnolt-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder");
  return pattern;
}

}  // namespace

std::vector<std::string_view> SplitPieces(std::string_view text, size_t count) {
  std::vector<std::string_view> pieces;
  while (pieces.size() + 1 < count) {
    const size_t at = text.find(kSeparator);
    if (at == std::string_view::npos) break;
    pieces.push_back(text.substr(0, at));
    text.remove_prefix(at + kSeparator.size());
  }
  pieces.push_back(text);
  pieces.resize(count);
  return pieces;
}

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string made = MakeScratchFolder();
    static const std::string removed_at_exit = made;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removed_at_exit, ignored);
    });
    return made;
  }();
  return folder;
}

void WriteScratchFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace varnolt::fuzz
