#include "backends/registry/key_path.h"

namespace varnolt {

std::string FoldCase(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::vector<std::string> SplitKeyPath(const std::string& path) {
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) segments.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return segments;
}

std::string CanonicalKeyPath(const std::string& path) {
  std::vector<std::string> segments = SplitKeyPath(path);
  std::string joined;
  for (size_t i = 0; i < segments.size(); ++i) {
    std::string segment = segments[i];
    if (i == 0) {
      const std::string root = FoldCase(segment);
      if (root == "hkey_local_machine" || root == "hklm") segment = kMachineRoot;
      if (root == "hkey_classes_root" || root == "hkcr") segment = kClassesRoot;
    }
    if (!joined.empty()) joined += '\\';
    joined += segment;
  }
  return joined;
}

std::string JoinKeyPath(const std::string& base, const std::string& subkey) {
  return CanonicalKeyPath(base + "\\" + subkey);
}

bool IsSameOrBelow(const std::string& path, const std::string& key) {
  if (path.size() < key.size()) return false;
  if (FoldCase(path.substr(0, key.size())) != FoldCase(key)) return false;
  return path.size() == key.size() || path[key.size()] == '\\';
}

}  // namespace varnolt
