// Store lookups that fail with a message naming what is missing, in the
// words of the command line (mailbox, folder path, URL).
#pragma once

#include <string>

#include "platform/mailstore/mail_store.h"
#include "varnolt/mailbox_address.h"

namespace varnolt::cli {

// Throws CommandError "no mailbox USER@DOMAIN" unless it exists.
void RequireMailbox(MailStore& store, const MailboxAddress& mailbox);

// The URL of a folder of an existing mailbox. With must_exist, throws
// CommandError unless a folder is there.
std::string FolderOfMailbox(MailStore& store, const MailboxAddress& mailbox, const std::string& path,
                            bool must_exist);

// The item or folder at the URL; throws CommandError "nothing at URL" when missing.
RecordView DescribeExisting(MailStore& store, const std::string& url);

}  // namespace varnolt::cli
