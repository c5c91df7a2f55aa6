// Users' model files kept open between calls, so that a Classify does not pay
// for opening the file, reading its schema and mapping its pages each time.
//
// One process-wide cache, below the event-scoped engine instances: a store is
// taken out while a call uses it (so one connection serves one thread at a
// time) and handed back when the call succeeded. A file that was replaced or
// removed since (another device or inode at the path) is opened afresh; a
// file that another process writes is safe, as every call runs in its own
// transaction and SQLite notices the change. A process made by fork starts
// with an empty cache (connections are never carried across a fork).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/model_store.h"

namespace varnolt::engine {

class ModelCache {
 public:
  // At most this many idle stores are kept; the least recently used goes first.
  explicit ModelCache(size_t capacity = 64);
  ~ModelCache();
  ModelCache(const ModelCache&) = delete;
  ModelCache& operator=(const ModelCache&) = delete;

  // A store in use. Keep() hands it back to the cache; without it (the call
  // failed) the store is closed, rolling back what it had not committed.
  class Lease {
   public:
    Lease() = default;
    Lease(Lease&& other) noexcept = default;
    Lease& operator=(Lease&& other) noexcept;
    ~Lease();
    ModelStore* operator->() const { return store_.get(); }
    ModelStore* get() const { return store_.get(); }
    explicit operator bool() const { return store_ != nullptr; }
    void Keep();

   private:
    friend class ModelCache;
    ModelCache* cache_ = nullptr;
    std::string path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::unique_ptr<ModelStore> store_;
  };

  // The store at path, as ModelStore::Open(path, mode) gives it (an empty
  // lease where that gives nullptr), from the cache when an idle one for the
  // same file is there.
  Lease Acquire(const std::string& path, ModelStore::Mode mode);

  // Idle stores held now.
  size_t idle_count();

  // The cache of this process.
  static const std::shared_ptr<ModelCache>& Shared();

 private:
  struct Idle {
    std::string path;
    dev_t device;
    ino_t inode;
    std::unique_ptr<ModelStore> store;
  };
  void Return(Lease& lease);
  void ForgetAfterFork();  // under mutex_
  void CloseIdle();        // this process's idle stores; a forked child's are let go

  size_t capacity_;
  std::mutex mutex_;
  pid_t owner_;
  std::vector<Idle> idle_;  // most recently returned last
};

}  // namespace varnolt::engine
