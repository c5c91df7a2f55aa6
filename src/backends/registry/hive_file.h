// The hive file on disk: read whole, or changed under an exclusive lock and
// replaced atomically, so readers in other processes see either the old or
// the new file and two writers never lose each other's changes.
#pragma once

#include <functional>
#include <string>

#include "backends/registry/hive_document.h"

namespace varnolt {

class HiveFile {
 public:
  explicit HiveFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Reads the hive; a missing or blank file is an empty hive. The file is
  // UTF-8 (a byte-order mark is skipped) or, as regedit exports it, UTF-16LE
  // with its byte-order mark. Returns 0 or a registry status: ERROR_BADDB
  // when the first line is not a .reg header ("Windows Registry Editor
  // Version 5.00" or "REGEDIT4"), so that garbage is never read as no settings.
  int32_t Read(HiveDocument* doc) const;

  // Locks "<path>.lock", reads the hive, lets change() edit it and, when it
  // reports a change, writes a temporary file beside the hive and renames it
  // over, in the encoding the file had. change() returns a registry status; a
  // nonzero one writes nothing, and so does a hive that cannot be read.
  // Temporary files that a killed writer left are removed first.
  int32_t Modify(const std::function<int32_t(HiveDocument& doc, bool* changed)>& change) const;

 private:
  int32_t ReadAs(HiveDocument* doc, bool* utf16) const;
  int32_t Replace(const std::string& text) const;
  void RemoveStaleTemporaries() const;

  std::string path_;
};

}  // namespace varnolt
