// Writes the engine's view of each corpus message as one JSON line, for
// replaying the evaluation outside the engine (bench/replay): its group and
// class, its file, the message digest by which the model recognises it, how
// many of its tokens come from the header, its distinct token keys (the
// 32-bit keys the model file stores), header tokens first, and the keys of its
// sender (its From field's tokens, which a thin model's near-duplicate rule needs).
//
// Usage: token_dump CORPUS_DIR dev|acceptance|GROUP[,GROUP...] > tokens.jsonl
#include <cstdio>
#include <iostream>

#include "engine/feature_hash.h"
#include "engine/thin_model.h"
#include "engine/token_buckets.h"
#include "engine/tokenizer.h"
#include "eval_corpus.h"

namespace varnolt::eval {
namespace {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Hex(const engine::DigestBytes& digest) {
  std::string out;
  char byte[3];
  for (const uint8_t b : digest) {
    std::snprintf(byte, sizeof byte, "%02x", b);
    out += byte;
  }
  return out;
}

int Main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: token_dump CORPUS_DIR dev|acceptance|GROUP[,GROUP...]\n";
    return 2;
  }
  const engine::TokenizerOptions options;
  for (const CorpusMessage& message : LoadCorpus(argv[1], GroupsOf(argv[2]))) {
    const engine::MessageFeatures features = engine::Features(message.header, message.body, options);
    // Header keys first, then the rest, each sorted: the engine splits them the same way.
    std::vector<uint32_t> header_keys, body_keys;
    size_t h = 0;
    for (const uint64_t id : features.ids) {
      const bool in_header = h < features.header_ids.size() && features.header_ids[h] == id;
      if (in_header) ++h;
      std::vector<uint32_t>& keys = in_header ? header_keys : body_keys;
      if (keys.empty() || keys.back() != engine::KeyOf(id)) keys.push_back(engine::KeyOf(id));
    }
    std::string line = "{\"group\":" + JsonString(message.group) + ",\"spam\":" + (message.is_spam ? "true" : "false") +
                       ",\"file\":" + JsonString(message.file) + ",\"digest\":\"" +
                       Hex(engine::DigestMessage(message.header, message.body).key) +
                       "\",\"header_keys\":" + std::to_string(header_keys.size()) + ",\"keys\":[";
    bool first = true;
    for (const auto* keys : {&header_keys, &body_keys}) {
      for (const uint32_t key : *keys) {
        line += (first ? "" : ",") + std::to_string(key);
        first = false;
      }
    }
    line += "],\"sender_keys\":[";
    first = true;
    for (const uint64_t id : engine::SenderIds(message.header, features, options)) {
      line += (first ? "" : ",") + std::to_string(engine::KeyOf(id));
      first = false;
    }
    line += "]}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return 0;
}

}  // namespace
}  // namespace varnolt::eval

int main(int argc, char** argv) {
  try {
    return varnolt::eval::Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "token_dump: " << e.what() << "\n";
    return 1;
  }
}
