// The engine's tokenizers over a message as the filter hands it over: the
// transport headers (tagged header tokens, encoded words, hosts) and the body
// (words, URLs, HTML), and the digest that recognises it again.
#include "backends/mailstore/raw_headers.h"
#include "engine/encoded_words.h"
#include "engine/feature_hash.h"
#include "engine/tokenizer.h"
#include "fuzz/fuzz_support.h"

using namespace varnolt::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view message = varnolt::fuzz::AsText(data, size);
  const size_t block = varnolt::mailstore::HeaderBlockLength(message);
  const std::string_view header = message.substr(0, block);
  const std::string_view body = message.substr(block);
  TokenizerOptions options;
  const MessageFeatures features = Features(header, body, options);
  // The header's ids are a sorted subset of all ids: the engine walks both together.
  size_t at = 0;
  for (uint64_t id : features.header_ids) {
    while (at < features.ids.size() && features.ids[at] < id) ++at;
    if (at == features.ids.size() || features.ids[at] != id) __builtin_trap();
  }
  const std::vector<std::string> tokens = Tokenize(header, body, options);
  if (tokens.size() > options.max_tokens + 64) __builtin_trap();
  std::vector<std::string> charsets;
  DecodeEncodedWords(header, &charsets);
  DigestMessage(header, body);
  return 0;
}
