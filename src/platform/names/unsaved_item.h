// The item name of a message the filter judges before the store has saved it
// (a Dovecot delivery: the UID that names a message there is only given when
// the save commits, and a guess may name another message by then). A "\" is
// in no item name of any store, so such a URL never names a stored message.
#pragma once

#include <string>

namespace varnolt {

inline constexpr const char* kUnsavedItemName = "\\unsaved.EML";

// Whether the URL ends in the unsaved message's name (letter case ignored).
bool IsUnsavedItemUrl(const std::string& url);

}  // namespace varnolt
