// Text rules of the store: URL keys, URL pieces, allowed names, and the names
// chosen for new items (from the subject, numbered on collision).
#pragma once

#include <string>
#include <string_view>

namespace varnolt::mailstore {

// The longest user and domain parts of a mailbox name, in bytes.
inline constexpr size_t kMaxUserBytes = 64;
inline constexpr size_t kMaxDomainBytes = 255;

// The lookup key of a URL or property name: ASCII letters lower-cased.
std::string LowerKey(std::string_view text);

// Splits at the last "/": *parent gets what is before it, *name what follows.
// False when the text holds no "/".
bool SplitLast(const std::string& url, std::string* parent, std::string* name);

// True for a name the store accepts for a mailbox part, folder or item: not
// empty, not "." or "..", no "/", "\" or control character.
bool IsValidName(std::string_view name);
// Throws kStoreInvalidName unless IsValidName.
void CheckName(std::string_view name);

// The name with "-<n>" before its extension (the part from the last "."
// that is not the first character), or at its end without one.
std::string NumberedName(const std::string& name, int n);

// An item name made from a subject: "/" "\" and control characters become
// "_", blanks around are dropped, at most 100 bytes (whole UTF-8
// characters), "No Subject" when nothing is left; then ".EML".
std::string NameFromSubject(const std::string& subject);

}  // namespace varnolt::mailstore
