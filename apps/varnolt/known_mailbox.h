// The mailbox a command about a user's filter data (model, whitelist) means,
// spelled as the filter names that user's files.
#pragma once

#include <string>

#include "varnolt/mailbox_address.h"
#include "varnolt/session.h"

namespace varnolt::cli {

// The mailbox as the store holds it: the store compares names without regard
// to letter case, and the filter names the user's files after the stored
// names. A mailbox of another mail system that the filter serves (a Dovecot
// user) is known by the model the filter made for it, and is taken as given.
// Throws UsageError for a malformed name, CommandError for an unknown one.
MailboxAddress KnownMailbox(Session& session, const std::string& text);

}  // namespace varnolt::cli
