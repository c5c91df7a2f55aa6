// The hive file on disk: read whole, or changed under an exclusive lock and
// replaced atomically, so readers in other processes see either the old or
// the new file and two writers never lose each other's changes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/registry/hive_document.h"

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

  // What tells one state of the file from another: a writer replaces the
  // file (a new inode), an editor rewrites it (a new size or change time).
  struct Stamp {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modified_ns = 0, changed_ns = 0;
    bool operator==(const Stamp&) const = default;
  };
  // The file's stamp now; none when it cannot be examined (missing, say) or
  // changed too lately for a further change to be sure to show in its times.
  std::optional<Stamp> CurrentStamp() const;

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
