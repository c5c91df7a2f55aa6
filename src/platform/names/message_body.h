// Which body of a message the spam engine reads: the HTML body unless it is
// missing or empty, else the plain body. The filter takes the two from the
// item's properties and a host from the message's bytes; both choose here, so
// training and checking from files see the text the filter judges.
#pragma once

#include <string>

namespace varnolt {

// read_plain is called only when the HTML body is empty.
template <typename ReadPlain>
std::string EngineBodyText(std::string html, ReadPlain read_plain) {
  if (!html.empty()) return html;
  return read_plain();
}

}  // namespace varnolt
