#include "trust/whitelist.h"

#include "platform/com/com_error.h"
#include "platform/names/data_layout.h"
#include "trust/message_readers.h"

namespace varnolt {

std::optional<bool> ScanWhiteList(TextFiles& files, const std::string& dat_path, const std::string& sender,
                                  std::optional<ComError>* open_error) {
  // A line never holds a line break, and no entry holds another control character.
  if (HasControlCharacter(sender)) return false;
  // Most users have no whitelist: its absence is the common case, not an exception.
  const std::unique_ptr<TextReader> reader = files.TryOpenForReading(WhiteListPath(dat_path), open_error);
  if (!reader) return std::nullopt;
  std::string line;
  try {
    while (reader->ReadLine(&line)) {
      if (line == sender) return true;
    }
  } catch (const ComError&) {
    // A read that fails ends the scan like the end of the file does.
  }
  return false;
}

bool InWhiteList(Reporter& reporter, TextFiles& files, Record& record, const std::string& dat_path,
                 const std::string& sender) {
  std::optional<ComError> error;
  const std::optional<bool> found = ScanWhiteList(files, dat_path, sender, &error);
  if (!found) {
    reporter.LogError("InWhiteList() failed: " + error->description(), error->number(), SourceForReport(record));
    return false;
  }
  return *found;
}

std::vector<std::string> ReadWhiteList(TextFiles& files, const std::string& dat_path) {
  std::vector<std::string> entries;
  std::optional<ComError> error;
  const std::unique_ptr<TextReader> reader = files.TryOpenForReading(WhiteListPath(dat_path), &error);
  if (!reader) {
    if (error->number() == kFileNotFound || error->number() == kPathNotFound) return entries;
    throw *error;
  }
  for (std::string line; reader->ReadLine(&line);) entries.push_back(line);
  return entries;
}

bool AddToWhiteList(Reporter& reporter, TextFiles& files, Record& record, const std::string& dat_path,
                    const std::string& sender) {
  try {
    // One entry is one line: a sender with a line break in it would add others.
    if (HasControlCharacter(sender)) throw RuntimeError(kInvalidProcedureCall);
    files.AppendLine(WhiteListPath(dat_path), sender);
    return true;
  } catch (const ComError& e) {
    reporter.LogError("AddToWhiteList() failed: " + e.description(), e.number(), SourceForReport(record));
    return false;
  }
}

int CreateEmptyWhiteList(TextFiles& files, const std::string& dat_path) {
  return files.CreateEmptyFile(WhiteListPath(dat_path));
}

}  // namespace varnolt
