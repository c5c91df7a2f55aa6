// The hive file on disk: read whole, or changed under an exclusive lock and
// replaced atomically, so readers in other processes see either the old or
// the new file and two writers never lose each other's changes.
#pragma once

#include <functional>
#include <string>

#include "platform/registry/hive_document.h"

namespace varnolt {

class HiveFile {
 public:
  explicit HiveFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Reads the hive; a missing file is an empty hive. Returns 0 or a registry status.
  int32_t Read(HiveDocument* doc) const;

  // Locks "<path>.lock", reads the hive, lets change() edit it and, when it
  // reports a change, writes a temporary file beside the hive and renames it
  // over. change() returns a registry status; a nonzero one writes nothing.
  int32_t Modify(const std::function<int32_t(HiveDocument& doc, bool* changed)>& change) const;

 private:
  int32_t Replace(const std::string& text) const;

  std::string path_;
};

}  // namespace varnolt
