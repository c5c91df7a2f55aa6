// Models as SQLite files, one per user and one per domain, each at the path
// the engine names (model_store.h), kept open between calls by a ModelCache.
#pragma once

#include <memory>
#include <string>

#include "engine/model_cache.h"
#include "engine/spam_model.h"

namespace varnolt::engine {

class FileModelBackend : public ModelBackend {
 public:
  explicit FileModelBackend(std::shared_ptr<ModelCache> cache);
  ModelLease Open(const std::string& path, ModelOpen mode) override;

 private:
  std::shared_ptr<ModelCache> cache_;
};

}  // namespace varnolt::engine
