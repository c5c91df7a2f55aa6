#include "trust/whitelist.h"

#include "platform/com/com_error.h"
#include "trust/message_readers.h"

namespace varnolt {

std::string WhiteListPath(const std::string& dat_path) { return dat_path + ".wlt"; }

bool InWhiteList(IExchangeFilter& filter, TextFiles& files, Record& record, const std::string& dat_path,
                 const std::string& sender) {
  // A line never holds a line break, and no entry holds another control character.
  if (HasControlCharacter(sender)) return false;
  std::unique_ptr<TextReader> reader;
  try {
    reader = files.OpenForReading(WhiteListPath(dat_path));
  } catch (const ComError& e) {
    filter.Log_Err("InWhiteList() failed: " + e.description(), e.number(), SourceText(record));
    return false;
  }
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

bool AddToWhiteList(IExchangeFilter& filter, TextFiles& files, Record& record, const std::string& dat_path,
                    const std::string& sender) {
  try {
    // One entry is one line: a sender with a line break in it would add others.
    if (HasControlCharacter(sender)) throw RuntimeError(kInvalidProcedureCall);
    files.AppendLine(WhiteListPath(dat_path), sender);
    return true;
  } catch (const ComError& e) {
    filter.Log_Err("AddToWhiteList() failed: " + e.description(), e.number(), SourceText(record));
    return false;
  }
}

}  // namespace varnolt
