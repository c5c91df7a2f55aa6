#include "engine/tokenizer.h"

#include "engine/header_tokens.h"
#include "engine/html_text.h"
#include "engine/token_sink.h"

namespace varnolt::engine {
namespace {

// Cuts a prefix without splitting a UTF-8 sequence, so that the last word
// keeps valid bytes.
std::string_view Prefix(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

std::string_view SizeBucket(size_t size) {
  if (size == 0) return "empty";
  if (size < 200) return "tiny";
  if (size < 2000) return "small";
  if (size < 20000) return "medium";
  return "large";
}

void TokenizeInto(std::string_view header, std::string_view body, const TokenizerOptions& options,
                  TokenSink& sink) {
  AddHeaderTokens(Prefix(header, options.max_header_bytes), options.words, sink);
  sink.EndHeader();
  sink.Add("body:size:", SizeBucket(body.size()));
  const std::string_view text = Prefix(body, options.max_body_bytes);
  if (LooksLikeHtml(text)) {
    sink.Add("body:", "html");
    const std::string visible = HtmlToText(text, sink);
    AddUrlHosts(visible, sink);
    AddWords(visible, "", options.words, sink);
  } else {
    AddUrlHosts(text, sink);
    AddWords(text, "", options.words, sink);
  }
}

}  // namespace

std::vector<std::string> Tokenize(std::string_view header, std::string_view body, const TokenizerOptions& options) {
  TokenSink sink(options.max_tokens, true);
  TokenizeInto(header, body, options, sink);
  return sink.TakeTexts();
}

std::vector<uint64_t> FeatureIds(std::string_view header, std::string_view body, const TokenizerOptions& options) {
  TokenSink sink(options.max_tokens, false);
  TokenizeInto(header, body, options, sink);
  return sink.TakeIds();
}

MessageFeatures Features(std::string_view header, std::string_view body, const TokenizerOptions& options) {
  TokenSink sink(options.max_tokens, false);
  TokenizeInto(header, body, options, sink);
  MessageFeatures features;
  features.ids = sink.TakeIds(&features.header_ids);
  return features;
}

std::vector<std::pair<uint64_t, std::string>> TokenTexts(std::string_view header, std::string_view body,
                                                         const TokenizerOptions& options,
                                                         const std::vector<uint64_t>& wanted) {
  TokenSink sink(options.max_tokens, true);
  sink.KeepTextsOf(&wanted);
  TokenizeInto(header, body, options, sink);
  const std::vector<uint64_t> ids = sink.text_ids();
  std::vector<std::string> texts = sink.TakeTexts();
  std::vector<std::pair<uint64_t, std::string>> named;
  for (size_t i = 0; i < ids.size(); ++i) named.emplace_back(ids[i], std::move(texts[i]));
  return named;
}

}  // namespace varnolt::engine
