// The text of a .reg hive file, held so that a change rewrites only what it
// touches: every other line (values, comments, blank lines, lines this reader
// does not understand) is written back exactly as it was read.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "backends/registry/value_text.h"

namespace varnolt {

class HiveDocument {
 public:
  // An empty hive: just the header line.
  HiveDocument();
  // Reads any text; what is not a key header or a value is kept and ignored.
  static HiveDocument Parse(const std::string& text);
  // The file's text, in the line ending style it was read with (LF for a new one).
  std::string Serialize() const;

  // Key paths are canonical (see key_path.h). A key exists when it has a
  // section of its own or a section below it, or is one of the two roots.
  bool KeyExists(const std::string& path) const;
  // The key's values by folded name; a later line wins over an earlier one.
  std::map<std::string, NamedValue> Values(const std::string& path) const;

  // Adds a section for the key when it does not exist; false when nothing changed.
  bool CreateKey(const std::string& path);
  // Replaces the value's line(s) in place, or adds them after the key's last value.
  void SetValue(const std::string& path, const NamedValue& value);
  // False when the key has no such value.
  bool DeleteValue(const std::string& path, const std::string& name);
  // Removes the key and everything below it; false when it does not exist.
  bool DeleteTree(const std::string& path);
  // Removes the key's values and subkeys but keeps the key.
  void ClearKey(const std::string& path);

 private:
  struct Entry {
    std::vector<std::string> lines;
    std::optional<NamedValue> value;  // unset: a line kept as it is
  };
  struct Section {
    std::vector<std::string> leading;  // blank lines that came with an appended section
    std::string header;
    std::string path;  // canonical
    std::vector<Entry> entries;
  };

  Section& AppendSection(const std::string& path);
  std::string WrittenPath(const std::string& path) const;
  bool EndsWithBlankLine() const;

  std::vector<std::string> preamble_;
  std::vector<Section> sections_;
  std::string line_end_ = "\n";
};

}  // namespace varnolt
