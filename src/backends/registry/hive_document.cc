#include "backends/registry/hive_document.h"

#include <algorithm>

#include "backends/registry/key_path.h"

namespace varnolt {
namespace {

constexpr const char* kHeaderLine = "Windows Registry Editor Version 5.00";

std::string TrimBlanks(const std::string& line) {
  size_t begin = 0, end = line.size();
  while (begin < end && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
  while (end > begin && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
  return line.substr(begin, end - begin);
}

// "[path]" (a "[-path]" deletion line is not a key of the hive).
bool ParseHeader(const std::string& line, std::string* path) {
  const std::string trimmed = TrimBlanks(line);
  if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']' || trimmed[1] == '-') return false;
  *path = CanonicalKeyPath(trimmed.substr(1, trimmed.size() - 2));
  return !path->empty();
}

bool StartsValue(const std::string& line) {
  const std::string trimmed = TrimBlanks(line);
  return !trimmed.empty() && (trimmed[0] == '"' || trimmed[0] == '@');
}

bool IsRoot(const std::string& path) {
  const std::string folded = FoldCase(path);
  return folded == FoldCase(kMachineRoot) || folded == FoldCase(kClassesRoot);
}

std::vector<std::string> SplitLines(const std::string& text, std::string* line_end) {
  std::vector<std::string> lines;
  bool ending_seen = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t lf = text.find('\n', start);
    const bool ended = lf != std::string::npos;
    if (!ended) lf = text.size();
    std::string line = text.substr(start, lf - start);
    // Every CR before the LF belongs to the line's end: CR CR LF is what CR LF
    // text converted once more becomes. A last line without its LF may still
    // have its CR. Otherwise the value on the line would hold a CR and no
    // longer read as a value.
    if (!line.empty() && line.back() == '\r') {
      while (!line.empty() && line.back() == '\r') line.pop_back();
      if (ended && !ending_seen) *line_end = "\r\n";
    }
    if (ended) ending_seen = true;
    lines.push_back(std::move(line));
    start = lf + 1;
  }
  return lines;
}

}  // namespace

HiveDocument::HiveDocument() : preamble_{kHeaderLine, ""} {}

HiveDocument HiveDocument::Parse(const std::string& text) {
  HiveDocument doc;
  // Blank lines alone are an empty hive, which gets its header line: kept as
  // they were, a first write would leave a file without one, which no reader
  // takes for a hive.
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return doc;
  doc.preamble_.clear();
  const std::vector<std::string> lines = SplitLines(text, &doc.line_end_);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string path;
    if (ParseHeader(lines[i], &path)) {
      doc.sections_.push_back(Section{{}, lines[i], path, {}});
      continue;
    }
    if (doc.sections_.empty()) {
      doc.preamble_.push_back(lines[i]);
      continue;
    }
    Entry entry;
    entry.lines.push_back(lines[i]);
    if (StartsValue(lines[i])) {
      while (ContinuesOnNextLine(entry.lines.back()) && i + 1 < lines.size()) entry.lines.push_back(lines[++i]);
      entry.value = ParseValueLines(entry.lines);
    }
    doc.sections_.back().entries.push_back(std::move(entry));
  }
  return doc;
}

std::string HiveDocument::Serialize() const {
  std::string text;
  auto put = [&](const std::string& line) { text += line + line_end_; };
  for (const auto& line : preamble_) put(line);
  for (const auto& section : sections_) {
    for (const auto& line : section.leading) put(line);
    put(section.header);
    for (const auto& entry : section.entries) {
      for (const auto& line : entry.lines) put(line);
    }
  }
  return text;
}

bool HiveDocument::KeyExists(const std::string& path) const {
  if (IsRoot(path)) return true;
  return std::any_of(sections_.begin(), sections_.end(),
                     [&](const Section& s) { return IsSameOrBelow(s.path, path); });
}

std::map<std::string, NamedValue> HiveDocument::Values(const std::string& path) const {
  std::map<std::string, NamedValue> values;
  const std::string folded = FoldCase(path);
  for (const auto& section : sections_) {
    if (FoldCase(section.path) != folded) continue;
    for (const auto& entry : section.entries) {
      if (entry.value) values[FoldCase(entry.value->name)] = *entry.value;
    }
  }
  return values;
}

bool HiveDocument::CreateKey(const std::string& path) {
  if (KeyExists(path)) return false;
  AppendSection(path);
  return true;
}

void HiveDocument::SetValue(const std::string& path, const NamedValue& value) {
  const std::string folded_path = FoldCase(path);
  const std::string folded_name = FoldCase(value.name);
  auto matches = [&](const Entry& e) { return e.value && FoldCase(e.value->name) == folded_name; };

  // The line that counts is the last one; earlier duplicates go.
  bool found = false;
  for (auto section = sections_.rbegin(); section != sections_.rend(); ++section) {
    if (FoldCase(section->path) != folded_path) continue;
    for (size_t i = section->entries.size(); i-- > 0;) {
      if (!matches(section->entries[i])) continue;
      if (found) section->entries.erase(section->entries.begin() + static_cast<ptrdiff_t>(i));
      found = true;
    }
  }
  for (auto& section : sections_) {
    if (FoldCase(section.path) != folded_path) continue;
    for (auto& entry : section.entries) {
      if (!matches(entry)) continue;
      NamedValue renewed = value;
      renewed.name = entry.value->name;  // the name keeps the letter case it was written with
      entry.lines = FormatValueLines(renewed);
      entry.value = std::move(renewed);
      return;
    }
  }

  Section* home = nullptr;
  for (auto& section : sections_) {
    if (FoldCase(section.path) == folded_path) home = &section;
  }
  if (!home) home = &AppendSection(path);
  auto at = home->entries.end();
  while (at != home->entries.begin() && TrimBlanks((at - 1)->lines.back()).empty()) --at;
  home->entries.insert(at, Entry{FormatValueLines(value), value});
}

bool HiveDocument::DeleteValue(const std::string& path, const std::string& name) {
  const std::string folded_path = FoldCase(path);
  const std::string folded_name = FoldCase(name);
  size_t removed = 0;
  for (auto& section : sections_) {
    if (FoldCase(section.path) != folded_path) continue;
    removed += std::erase_if(section.entries, [&](const Entry& e) {
      return e.value && FoldCase(e.value->name) == folded_name;
    });
  }
  return removed > 0;
}

bool HiveDocument::DeleteTree(const std::string& path) {
  if (!KeyExists(path)) return false;
  std::erase_if(sections_, [&](const Section& s) { return IsSameOrBelow(s.path, path); });
  return true;
}

void HiveDocument::ClearKey(const std::string& path) {
  const std::string folded = FoldCase(path);
  std::erase_if(sections_, [&](const Section& s) { return IsSameOrBelow(s.path, path) && FoldCase(s.path) != folded; });
  for (auto& section : sections_) {
    if (FoldCase(section.path) == folded) std::erase_if(section.entries, [](const Entry& e) { return e.value; });
  }
}

HiveDocument::Section& HiveDocument::AppendSection(const std::string& path) {
  Section section;
  if (!EndsWithBlankLine()) section.leading.push_back("");
  section.header = "[" + WrittenPath(path) + "]";
  section.path = path;
  section.entries.push_back(Entry{{""}, std::nullopt});  // the blank line that ends a section
  sections_.push_back(std::move(section));
  return sections_.back();
}

// The path spelled the way the file already spells its leading keys.
std::string HiveDocument::WrittenPath(const std::string& path) const {
  const std::vector<std::string> segments = SplitKeyPath(path);
  std::string written, prefix;
  for (const auto& segment : segments) {
    prefix += (prefix.empty() ? "" : "\\") + segment;
    std::string spelled = segment;
    for (const auto& section : sections_) {
      if (!IsSameOrBelow(section.path, prefix)) continue;
      spelled = SplitKeyPath(section.path)[SplitKeyPath(prefix).size() - 1];
      break;
    }
    written += (written.empty() ? "" : "\\") + spelled;
  }
  return written;
}

bool HiveDocument::EndsWithBlankLine() const {
  if (sections_.empty()) return preamble_.empty() || TrimBlanks(preamble_.back()).empty();
  const Section& last = sections_.back();
  if (last.entries.empty()) return false;
  return TrimBlanks(last.entries.back().lines.back()).empty();
}

}  // namespace varnolt
