#include "backends/journal/bounded_field.h"

namespace varnolt::journal {

std::string BoundedField(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  size_t end = max_bytes;
  // Back over continuation bytes (10xxxxxx) to the lead byte of the cut
  // sequence, which goes too; invalid text is cut after at most three.
  for (int back = 0; back < 3 && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; ++back) --end;
  if (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) end = max_bytes;
  return std::string(text.substr(0, end));
}

}  // namespace varnolt::journal
