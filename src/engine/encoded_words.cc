#include "engine/encoded_words.h"

#include <gmime/gmime.h>

#include <mutex>

#include "engine/text_tokens.h"

namespace varnolt::engine {
namespace {

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// The charset names of the well-formed encoded words ("=?charset?B|Q?...?=").
void CollectCharsets(std::string_view value, std::vector<std::string>* charsets) {
  for (size_t start = value.find("=?"); start != std::string_view::npos; start = value.find("=?", start + 2)) {
    const size_t mark = value.find('?', start + 2);
    if (mark == std::string_view::npos || mark + 2 >= value.size() || value[mark + 2] != '?') continue;
    const char encoding = static_cast<char>(value[mark + 1] | 0x20);
    if ((encoding != 'b' && encoding != 'q') || value.find("?=", mark + 3) == std::string_view::npos) continue;
    std::string charset = FoldCase(value.substr(start + 2, mark - start - 2));
    if (const size_t star = charset.find('*'); star != std::string::npos) charset.resize(star);  // language suffix
    charsets->push_back(std::move(charset));
  }
}

}  // namespace

std::string DecodeEncodedWords(std::string_view value, std::vector<std::string>* charsets) {
  InitGMime();
  CollectCharsets(value, charsets);
  const std::string text(value);
  char* decoded = g_mime_utils_header_decode_text(nullptr, text.c_str());
  std::string out = decoded != nullptr ? decoded : text;
  g_free(decoded);
  return out;
}

}  // namespace varnolt::engine
