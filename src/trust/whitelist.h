// The user's whitelist: <dat path>.wlt beside the engine's database, one sender
// address a line (CR LF, no byte-order mark), only ever appended to. Both
// operations open and release the file within the call and never raise.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "diagnostics/reporter.h"
#include "platform/com/com_error.h"
#include "platform/names/data_layout.h"
#include "platform/text_files.h"
#include "store/record.h"

namespace varnolt {

// True when some line equals the sender exactly (case-sensitive, untrimmed);
// stops at the first match. A file that cannot be opened (a missing one
// included) is reported as "InWhiteList() failed: " with the record's URL and
// answers false; reaching the end without a match is silent. A sender holding
// a control character is never listed: false without opening the file.
bool InWhiteList(Reporter& reporter, TextFiles& files, Record& record, const std::string& dat_path,
                 const std::string& sender);

// The search InWhiteList makes, for a reader that reports nothing: true or
// false, or nullopt when the file cannot be opened (a missing one included;
// *open_error says why).
std::optional<bool> ScanWhiteList(TextFiles& files, const std::string& dat_path, const std::string& sender,
                                  std::optional<ComError>* open_error);

// Every entry in file order: each line is one, as the filter reads them. None
// when the file or its folder is missing; throws ComError when it is there but unreadable.
std::vector<std::string> ReadWhiteList(TextFiles& files, const std::string& dat_path);

// Appends the sender as one line, creating the file (not its folder) when
// missing. False after a "AddToWhiteList() failed: " report, which is also the
// answer for a sender holding a control character (error 5; nothing is
// written). Callers keep empty and duplicate entries out.
bool AddToWhiteList(Reporter& reporter, TextFiles& files, Record& record, const std::string& dat_path,
                    const std::string& sender);

// Makes the user's whitelist, empty, when there is none: done when the
// filter or a host provisions a mailbox, so that a missing whitelist, which
// InWhiteList reports, is a fault rather than every new user's state.
// Returns 0 or errno.
int CreateEmptyWhiteList(TextFiles& files, const std::string& dat_path);

}  // namespace varnolt
