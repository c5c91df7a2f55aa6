// Pieces of an item URL: file://./backofficestorage/<domain>/MBX/<user>/<folder path>/<mail file>.
// Pure text operations; none touches the store.
#pragma once

#include <string>

#include "diagnostics/reporter.h"
#include "platform/com/variant.h"

namespace varnolt {

// Sets *domain (segment 4), then *user (segment 6), then *mail_file (the last
// segment) of the URL split at every "/". Fewer than seven segments throw
// ComError 9 "Subscript out of range" once the missing segment is reached
// (outputs set before that keep their values).
void SplitItemUrl(const std::string& url, std::string* domain, std::string* user, std::string* mail_file);

// The URL without its last "/" and what follows; "" with a "GetInbox failed: "
// report when the URL holds no "/".
std::string GetInbox(Reporter& reporter, const std::string& url);

// The text unchanged, as a general value.
Variant AsVariant(const std::string& text);

}  // namespace varnolt
