// What the journal keeps of a message besides the filter's verdict, read from
// its header block: the Message-ID, the sender's address and domain, and the subject.
#pragma once

#include <string>
#include <string_view>

namespace varnolt::hosting {

struct MessageSummary {
  std::string message_id;     // without angle brackets
  std::string sender;         // From's address, lower case; "" when it has none
  std::string sender_domain;  // lower case; "" when From has no address
  std::string subject;        // encoded words decoded
};

// The subject is decoded only when asked for (the journal keeps it only when told to).
MessageSummary SummarizeMessage(std::string_view message, bool with_subject);

}  // namespace varnolt::hosting
