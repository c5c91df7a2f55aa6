#include "backends/mailstore/store_names.h"

#include "backends/mailstore/store_errors.h"

namespace varnolt::mailstore {
namespace {

constexpr size_t kMaxSubjectNameBytes = 100;

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

std::string LowerKey(std::string_view text) {
  std::string key(text);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

bool SplitLast(const std::string& url, std::string* parent, std::string* name) {
  const size_t slash = url.rfind('/');
  if (slash == std::string::npos) return false;
  *parent = url.substr(0, slash);
  *name = url.substr(slash + 1);
  return true;
}

bool IsValidName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c == '/' || c == '\\' || IsControl(c)) return false;
  }
  return true;
}

void CheckName(std::string_view name) {
  if (!IsValidName(name)) throw StoreError(kStoreInvalidName);
}

std::string NumberedName(const std::string& name, int n) {
  const std::string suffix = "-" + std::to_string(n);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + suffix;
  return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string NameFromSubject(const std::string& subject) {
  std::string clean;
  for (unsigned char c : subject) {
    clean += (c == '/' || c == '\\' || IsControl(c)) ? '_' : static_cast<char>(c);
  }
  const size_t begin = clean.find_first_not_of(" \t");
  if (begin == std::string::npos) return "No Subject.EML";
  clean = clean.substr(begin, clean.find_last_not_of(" \t") - begin + 1);
  if (clean.size() > kMaxSubjectNameBytes) {
    size_t cut = kMaxSubjectNameBytes;
    // Step back over UTF-8 continuation bytes so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xC0) == 0x80) --cut;
    clean.resize(cut);
    const size_t end = clean.find_last_not_of(" \t");
    clean.resize(end == std::string::npos ? 0 : end + 1);
  }
  if (clean.find_first_not_of('.') == std::string::npos) return "No Subject.EML";
  return clean + ".EML";
}

}  // namespace varnolt::mailstore
