#include "varnolt/item_reference.h"

#include <charconv>

#include "platform/names/unsaved_item.h"
#include "varnolt/cli_errors.h"

namespace varnolt::cli {
namespace {

constexpr std::string_view kMessageIdPrefix = "id:";

std::string ByNumber(MailStore& store, const std::string& reference, int64_t number) {
  const auto url = store.ItemUrlById(number);
  if (!url) throw hosting::CommandError("no item number " + reference + " (the numbers are those 'varnolt ls' shows)");
  return *url;
}

std::string ByMessageId(MailStore& store, const std::string& message_id) {
  const std::vector<std::string> urls = store.FindItemsByMessageId(message_id);
  if (urls.empty()) throw hosting::CommandError("no item has the Message-ID " + message_id);
  if (urls.size() == 1) return urls.front();
  std::string message = std::to_string(urls.size()) + " items have the Message-ID " + message_id +
                        "; name one by its URL or number ('varnolt ls'):";
  for (const std::string& url : urls) message += "\n  " + url;
  throw hosting::CommandError(message);
}

}  // namespace

std::string ResolveItemReference(MailStore& store, const std::string& reference) {
  if (IsUnsavedItemUrl(reference)) {
    throw hosting::CommandError(reference +
                                " names a message the filter judged before it was saved (a Dovecot delivery); "
                                "it has no URL of its own: find it by its Message-ID in the mailbox");
  }
  if (reference.rfind(kMessageIdPrefix, 0) == 0) return ByMessageId(store, reference.substr(kMessageIdPrefix.size()));
  int64_t number = 0;
  const char* end = reference.data() + reference.size();
  const auto [ptr, ec] = std::from_chars(reference.data(), end, number);
  if (!reference.empty() && ec == std::errc() && ptr == end && number > 0) return ByNumber(store, reference, number);
  return reference;
}

}  // namespace varnolt::cli
