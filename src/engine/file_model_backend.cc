#include "engine/file_model_backend.h"

#include <utility>

namespace varnolt::engine {
namespace {

class CachedFile : public ModelLease::Holder {
 public:
  explicit CachedFile(ModelCache::Lease lease) : lease_(std::move(lease)) {}
  SpamModel* model() override { return lease_.get(); }
  void Keep() override { lease_.Keep(); }

 private:
  ModelCache::Lease lease_;
};

}  // namespace

FileModelBackend::FileModelBackend(std::shared_ptr<ModelCache> cache)
    : cache_(cache ? std::move(cache) : ModelCache::Shared()) {}

ModelLease FileModelBackend::Open(const std::string& path, ModelOpen mode) {
  ModelCache::Lease lease = cache_->Acquire(
      path, mode == ModelOpen::kCreate ? ModelStore::Mode::kCreate : ModelStore::Mode::kExistingOnly);
  if (!lease) return {};
  return ModelLease(std::make_unique<CachedFile>(std::move(lease)));
}

}  // namespace varnolt::engine
