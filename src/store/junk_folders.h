// The junk folders of a mailbox: finding them, creating the Spambox, moving SPAM in.
#pragma once

#include <string>

#include "diagnostics/reporter.h"
#include "platform/ticks.h"
#include "store/record.h"

namespace varnolt {

// True when a folder can be opened at the URL; never throws, logs nothing.
bool OpenJunkMailFolder(Connection& connection, const std::string& url);

// True only when the Spambox already existed; false when this call created it
// (with its content class and folder class), and false after a failure, which
// is reported as "Open Spambox failed: ".
bool OpenSpambox(Reporter& reporter, Connection& connection, const std::string& url);

// Whether the item already lies in the folder at folder_url (letter case
// ignored, as the store ignores it). False when the store cannot say.
bool IsInFolder(Record& record, const std::string& folder_url);

// Moves the item to folder_url + "/" + mail_file; when the name is taken,
// retries (99 times at most) with the mail file less its last four characters
// + the tick count + ".eml". False after the last failure, reported once as
// "Cannot move Spam to <folder>: ".
bool MoveSpamToFolder(Reporter& reporter, TickSource& ticks, Record& record, const std::string& folder_url,
                      const std::string& mail_file);

}  // namespace varnolt
