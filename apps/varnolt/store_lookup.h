// Store lookups that fail with a message naming what is missing, in the
// words of the command line (mailbox, folder path, URL).
#pragma once

#include <string>

#include "backends/mailstore/mail_store.h"
#include "varnolt/mailbox_address.h"

namespace varnolt::cli {

// The mailbox spelt as it is stored (the store finds it ignoring letter case),
// so that one mailbox has one spelling and one data folder whatever was typed.
// Throws CommandError "no mailbox USER@DOMAIN" unless it exists.
MailboxAddress RequireMailbox(MailStore& store, const MailboxAddress& mailbox);

// The URL of a folder of an existing mailbox, spelt as stored. Throws
// UsageError for a path that names no folder ("", "/": the mailbox root holds
// no items). With must_exist, throws CommandError unless a folder is there.
std::string FolderOfMailbox(MailStore& store, const MailboxAddress& mailbox, const std::string& path,
                            bool must_exist);

// The item or folder at the URL; throws CommandError "nothing at URL" when missing.
RecordView DescribeExisting(MailStore& store, const std::string& url);

}  // namespace varnolt::cli
