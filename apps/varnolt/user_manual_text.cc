#include "varnolt/user_manual_text.h"

namespace varnolt::cli {
namespace {

constexpr const char* kLines[] = {
    "From: Mail Filter <postmaster@localhost>",
    "Subject: Welcome - how your junk mail filter works",
    "MIME-Version: 1.0",
    "Content-Type: text/plain; charset=UTF-8",
    "Content-Transfer-Encoding: 8bit",
    "",
    "Hello,",
    "",
    "your mailbox now has a junk mail filter. It reads each new message as it",
    "arrives and marks it as wanted mail or as junk. Junk goes straight into",
    "your junk folder (\"Junk E-Mail\", or \"Spambox\" if you have no junk",
    "folder), so your Inbox stays for the mail you care about.",
    "",
    "The filter learns from you:",
    "",
    "* Found junk in your Inbox? Move it into the junk folder. The filter",
    "  takes that as your verdict and learns to catch mail like it.",
    "",
    "* Found a good message in the junk folder? Move it back to your Inbox",
    "  or any other folder. The filter learns that such mail is wanted, and",
    "  puts the sender on your whitelist.",
    "",
    "Mail from senders on your whitelist, and mail from colleagues inside",
    "the organisation, is always treated as wanted mail.",
    "",
    "Deleting a message teaches the filter nothing, so clean up as you like.",
    "It is worth looking through the junk folder now and then during the",
    "first weeks: every message you rescue makes the filter better.",
    "",
    "Your mail administrator",
};

}  // namespace

std::string DefaultUserManual() {
  std::string text;
  for (const char* line : kLines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace varnolt::cli
