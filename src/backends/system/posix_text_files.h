// Text files on the local file system: each call opens, works and closes.
#pragma once

#include <memory>
#include <string>

#include "platform/text_files.h"

namespace varnolt {

class PosixTextFiles final : public TextFiles {
 public:
  // One open with O_APPEND and one write() per line (a missing line ending of
  // the file's last line goes into the same write) under an fcntl lock on the
  // file, so lines appended at the same moment by several threads, processes
  // or servers sharing the file over NFS never interleave.
  void AppendLine(const std::string& path, const std::string& text) override;
  // Reads the whole file at once and closes it; the reader serves its lines.
  std::unique_ptr<TextReader> OpenForReading(const std::string& path) override;
  std::unique_ptr<TextReader> TryOpenForReading(const std::string& path, std::optional<ComError>* error) override;
  CreateDirectoryResult CreateDirectory(const std::string& path) override;
  FileClaimResult ClaimFile(const std::string& path) override;
  int32_t GetFileAttributes(const std::string& path) override;
  int CreateEmptyFile(const std::string& path) override;
  int DeleteFile(const std::string& path) override;
};

}  // namespace varnolt
