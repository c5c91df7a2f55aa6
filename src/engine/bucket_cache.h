// A connection's copy of the token buckets it has read, so that judging many
// messages in one process reads each bucket from SQLite once rather than once
// a message (a message's keys touch nearly every bucket, and SQLite copies
// every blob it hands out).
//
// The copy belongs to one state of the file: the connection's data version
// (which changes when another connection commits) and the model's meta rows
// (totals, entries, bucket depth, the count of writes) read in the same
// snapshot, so that kept buckets are only ever read beside the totals they
// were kept with: a token never seems counted in more messages than were
// learned. Our own writes do not change the data version, so a connection
// drops its copy whenever it takes the write lock. At most the whole token table is held:
// about 1.6 MB for a model of 4,000 messages, and only by a connection that
// reads the same state of the file twice or more.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace varnolt::engine {

class BucketCache {
 public:
  // Whether this read may use the copy and add to it: only when the previous
  // read found the file in the same state, so that a connection that reads
  // once (one delivery's verdict) holds no copy. Another state starts afresh.
  // state: the snapshot's meta rows, the depth among them.
  bool Use(int64_t data_version, const std::vector<std::pair<std::string, int64_t>>& state) {
    if (valid_ && data_version == data_version_ && state == state_) return true;
    buckets_.clear();
    data_version_ = data_version;
    state_ = state;
    valid_ = true;
    return false;
  }
  void Drop() {
    buckets_.clear();
    valid_ = false;
  }
  // The bucket's bytes (nullopt: the file has no row for it); nullptr when not read yet.
  const std::optional<std::string>* Find(uint32_t bucket) const {
    const auto found = buckets_.find(bucket);
    return found == buckets_.end() ? nullptr : &found->second;
  }
  void Put(uint32_t bucket, std::string_view bytes) { buckets_.insert_or_assign(bucket, std::string(bytes)); }
  // A bucket read as missing stays missing until the file changes.
  void PutMissing(uint32_t bucket) { buckets_.try_emplace(bucket, std::nullopt); }

 private:
  std::unordered_map<uint32_t, std::optional<std::string>> buckets_;
  int64_t data_version_ = -1;
  std::vector<std::pair<std::string, int64_t>> state_;
  bool valid_ = false;
};

}  // namespace varnolt::engine
