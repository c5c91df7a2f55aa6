// The pages of one mailbox, one domain and of all mailboxes, as HTML; every
// name and field escaped, every link built from escaped parameters.
#pragma once

#include <string>

#include "dashboard/mailbox_view.h"

namespace varnolt::dashboard {

std::string MailboxPageHtml(const MailboxView& view);
// nonce: the mailbox table's sorting script.
std::string DomainPageHtml(const DomainView& view, const std::string& nonce);
std::string MailboxListHtml(const MailboxList& list, const std::string& nonce);
// What was wrong with the request, for a 400 or 404 answer.
std::string ProblemHtml(const std::string& title, const std::string& message);

}  // namespace varnolt::dashboard
