// The short ways to name an item wherever a command takes its URL: the number
// `ls` shows in its first column, or id:<Message-ID>.
#pragma once

#include <string>

#include "backends/mailstore/mail_store.h"

namespace varnolt::cli {

// The URL a reference names: a number gives the item with that store number,
// "id:<Message-ID>" (angle brackets optional) the one item with that
// Message-ID; anything else is taken as a URL and returned unchanged. Throws
// CommandError when no item, or more than one, answers the reference.
std::string ResolveItemReference(MailStore& store, const std::string& reference);

// What the help of a command says about its ITEM argument.
inline constexpr const char* kItemReferenceHelp =
    "The item: its URL, the number `varnolt ls` shows in its first column, or id:<Message-ID>";

}  // namespace varnolt::cli
