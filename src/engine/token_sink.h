// Collects the distinct tokens of one message, up to a bound.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace varnolt::engine {

class TokenSink {
 public:
  explicit TokenSink(size_t max_tokens) : max_tokens_(max_tokens) {}

  // Adds prefix + token once; ignored when the bound is reached.
  void Add(std::string_view prefix, std::string_view token);
  bool full() const { return tokens_.size() >= max_tokens_; }

  // The distinct tokens in the order they were first added.
  std::vector<std::string> Take() { return std::move(tokens_); }

 private:
  size_t max_tokens_;
  std::unordered_set<std::string> seen_;
  std::vector<std::string> tokens_;
};

}  // namespace varnolt::engine
