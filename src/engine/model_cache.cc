#include "engine/model_cache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/text_files.h"

namespace varnolt::engine {
namespace {

// The identity of the file now at path; false when there is none.
bool Identify(const std::string& path, dev_t* device, ino_t* inode) {
  struct stat info {};
  if (stat(ToFileSystemPath(path).c_str(), &info) != 0) return false;
  *device = info.st_dev;
  *inode = info.st_ino;
  return true;
}

}  // namespace

ModelCache::ModelCache(size_t capacity) : capacity_(capacity), owner_(getpid()) {}

ModelCache::~ModelCache() { ForgetAfterFork(); }

ModelCache::Lease& ModelCache::Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    store_.reset();
    cache_ = other.cache_;
    path_ = std::move(other.path_);
    device_ = other.device_;
    inode_ = other.inode_;
    store_ = std::move(other.store_);
  }
  return *this;
}

ModelCache::Lease::~Lease() = default;

void ModelCache::Lease::Keep() {
  if (cache_ != nullptr && store_ != nullptr && !store_->in_transaction()) cache_->Return(*this);
}

ModelCache::Lease ModelCache::Acquire(const std::string& path, ModelStore::Mode mode) {
  Lease lease;
  lease.cache_ = this;
  lease.path_ = path;
  const bool exists = !path.empty() && Identify(path, &lease.device_, &lease.inode_);
  if (exists) {
    std::lock_guard<std::mutex> lock(mutex_);
    ForgetAfterFork();
    for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
      if (it->path == path && it->device == lease.device_ && it->inode == lease.inode_) {
        lease.store_ = std::move(it->store);
        idle_.erase(std::next(it).base());
        return lease;
      }
    }
  }
  lease.store_ = ModelStore::Open(path, mode);
  // A file created just now: identify what was created.
  if (lease.store_ != nullptr && !exists && !Identify(path, &lease.device_, &lease.inode_)) lease.cache_ = nullptr;
  return lease;
}

namespace {

// A store that must not be closed is kept, unused, for the rest of the
// process rather than dropped: it stays one of the process's objects (a
// replaced file's connection, a parent's after a fork), not lost memory.
void KeepUnclosed(std::unique_ptr<ModelStore> store) {
  static std::mutex mutex;
  static auto* kept = new std::vector<std::unique_ptr<ModelStore>>();  // never destroyed: never closed
  std::lock_guard<std::mutex> lock(mutex);
  kept->push_back(std::move(store));
}

}  // namespace

void ModelCache::Return(Lease& lease) {
  std::lock_guard<std::mutex> lock(mutex_);
  ForgetAfterFork();
  // Stores of files replaced since go now rather than wait for their turn.
  // One of a file that is no longer at the path is let go without closing:
  // closing would remove the side files of its write-ahead log by their
  // names, which are now the new file's.
  std::erase_if(idle_, [&](Idle& idle) {
    if (idle.path != lease.path_) return false;
    if (idle.device != lease.device_ || idle.inode != lease.inode_) KeepUnclosed(std::move(idle.store));
    return true;
  });
  idle_.push_back({lease.path_, lease.device_, lease.inode_, std::move(lease.store_)});
  if (idle_.size() > capacity_) idle_.erase(idle_.begin());
}

size_t ModelCache::idle_count() {
  std::lock_guard<std::mutex> lock(mutex_);
  ForgetAfterFork();
  return idle_.size();
}

void ModelCache::ForgetAfterFork() {
  if (owner_ == getpid()) return;
  // The parent's connections must not be used, nor closed (closing would
  // release the parent's locks): they are let go without a word.
  for (Idle& idle : idle_) KeepUnclosed(std::move(idle.store));
  idle_.clear();
  owner_ = getpid();
}

void ModelCache::CloseIdle() {
  std::lock_guard<std::mutex> lock(mutex_);
  ForgetAfterFork();
  idle_.clear();
}

const std::shared_ptr<ModelCache>& ModelCache::Shared() {
  static const std::shared_ptr<ModelCache>* cache = [] {
    auto* made = new std::shared_ptr<ModelCache>(std::make_shared<ModelCache>());
    // The process closes its models as it ends: the last connection to a
    // file folds its write-ahead log back in, so that the file alone holds
    // everything while no one uses it.
    std::atexit([] { (*cache)->CloseIdle(); });
    return made;
  }();
  return *cache;
}

}  // namespace varnolt::engine
