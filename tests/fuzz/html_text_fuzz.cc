// HTML bodies: the visible text, the markup hints and the character references.
#include "engine/html_text.h"
#include "engine/text_tokens.h"
#include "engine/token_sink.h"
#include "fuzz/fuzz_support.h"

using namespace varnolt::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view html = varnolt::fuzz::AsText(data, size);
  TokenSink sink(4000, /*keep_texts=*/true);
  LooksLikeHtml(html);
  const std::string text = HtmlToText(html, sink);
  AddWords(text, "", WordLimits{}, sink);
  AddUrlHosts(html, sink);
  DecodeEntities(html);
  FoldCase(html);
  return 0;
}
