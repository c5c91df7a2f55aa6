// Collects the distinct tokens of one message, up to a bound, as token ids
// (and, when asked, as texts). Tokens are hashed as they come, so a word
// costs no allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnolt::engine {

class TokenSink {
 public:
  // keep_texts: also keep each distinct token's text (for tests and diagnostics).
  TokenSink(size_t max_tokens, bool keep_texts);

  // Adds prefix + token once; ignored when the bound is reached.
  void Add(std::string_view prefix, std::string_view token) { Insert(prefix, token, false); }
  // The same with the token case-folded (see FoldCase).
  void AddFolded(std::string_view prefix, std::string_view token) { Insert(prefix, token, true); }
  // Also once every wanted text is kept (KeepTextsOf): the rest is not read.
  bool full() const {
    return ids_.size() >= max_tokens_ || (wanted_ != nullptr && text_ids_.size() == wanted_->size());
  }

  // Marks the tokens added so far as the header's.
  void EndHeader() { header_tokens_ = ids_.size(); }

  // The distinct ids, sorted.
  std::vector<uint64_t> TakeIds();
  // The same, and apart from them the sorted ids of the header's tokens.
  std::vector<uint64_t> TakeIds(std::vector<uint64_t>* header_ids);
  // The distinct texts in the order first added (empty unless kept).
  std::vector<std::string> TakeTexts() { return std::move(texts_); }
  // Keeps the texts of these ids only (sorted, distinct), with their ids:
  // naming a few tokens costs no allocation for the others.
  void KeepTextsOf(const std::vector<uint64_t>* wanted) { wanted_ = wanted; }
  const std::vector<uint64_t>& text_ids() const { return text_ids_; }

 private:
  void Insert(std::string_view prefix, std::string_view token, bool fold);
  void Grow();

  size_t max_tokens_;
  bool keep_texts_;
  std::vector<uint64_t> slots_;  // open addressing; 0 marks a free slot
  std::vector<uint64_t> ids_;
  size_t header_tokens_ = 0;
  std::vector<std::string> texts_;
  const std::vector<uint64_t>* wanted_ = nullptr;
  std::vector<uint64_t> text_ids_;
};

}  // namespace varnolt::engine
