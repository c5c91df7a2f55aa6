#include "engine/token_sink.h"

#include <algorithm>

#include "engine/feature_hash.h"
#include "engine/text_tokens.h"

namespace varnolt::engine {

// Most messages have a few hundred tokens: start small, grow by doubling.
constexpr size_t kInitialSlots = 1024;

TokenSink::TokenSink(size_t max_tokens, bool keep_texts)
    : max_tokens_(max_tokens), keep_texts_(keep_texts), slots_(kInitialSlots, 0) {
  ids_.reserve(kInitialSlots / 2);
}

void TokenSink::Grow() {
  std::vector<uint64_t> old = std::move(slots_);
  slots_.assign(old.size() * 2, 0);
  const size_t mask = slots_.size() - 1;
  for (uint64_t key : old) {
    if (key == 0) continue;
    size_t i = key & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = key;
  }
}

void TokenSink::Insert(std::string_view prefix, std::string_view token, bool fold) {
  if (full()) return;
  TokenHasher hasher;
  hasher.Update(prefix);
  if (fold) {
    hasher.UpdateFolded(token);
  } else {
    hasher.Update(token);
  }
  const uint64_t id = hasher.Finish();
  const uint64_t key = id == 0 ? 1 : id;  // 0 marks a free slot
  const size_t mask = slots_.size() - 1;
  for (size_t i = key & mask;; i = (i + 1) & mask) {
    if (slots_[i] == key) return;
    if (slots_[i] == 0) {
      slots_[i] = key;
      break;
    }
  }
  ids_.push_back(id);
  if (2 * ids_.size() > slots_.size()) Grow();  // keep the table at most half full
  if (keep_texts_ && (wanted_ == nullptr || std::binary_search(wanted_->begin(), wanted_->end(), id))) {
    texts_.push_back(std::string(prefix) + (fold ? FoldCase(token) : std::string(token)));
    text_ids_.push_back(id);
  }
}

std::vector<uint64_t> TokenSink::TakeIds(std::vector<uint64_t>* header_ids) {
  header_ids->assign(ids_.begin(), ids_.begin() + static_cast<std::ptrdiff_t>(header_tokens_));
  std::sort(header_ids->begin(), header_ids->end());
  return TakeIds();
}

std::vector<uint64_t> TokenSink::TakeIds() {
  std::sort(ids_.begin(), ids_.end());
  return std::move(ids_);
}

}  // namespace varnolt::engine
