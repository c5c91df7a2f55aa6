#include "engine/token_sink.h"

namespace varnolt::engine {

void TokenSink::Add(std::string_view prefix, std::string_view token) {
  if (full()) return;
  std::string text;
  text.reserve(prefix.size() + token.size());
  text.append(prefix).append(token);
  if (seen_.insert(text).second) tokens_.push_back(std::move(text));
}

}  // namespace varnolt::engine
