#include "backends/complus/in_process_services.h"

#include "platform/com/com_error.h"

namespace varnolt {
namespace {

class Property final : public SharedProperty {
 public:
  Variant Value() override {
    std::lock_guard<std::mutex> guard(mutex_);
    return value_;
  }
  void SetValue(const Variant& value) override {
    std::lock_guard<std::mutex> guard(mutex_);
    value_ = value;
  }

 private:
  std::mutex mutex_;
  Variant value_;
};

class Group final : public SharedPropertyGroup {
 public:
  Group(int32_t isolation, int32_t release) : isolation_(isolation), release_(release) {}

  std::shared_ptr<SharedProperty> CreateProperty(const std::string& name, bool* exists) override {
    std::lock_guard<std::mutex> guard(mutex_);
    auto& slot = properties_[name];
    if (exists) *exists = slot != nullptr;
    if (!slot) slot = std::make_shared<Property>();
    return slot;
  }

  int32_t isolation() const { return isolation_; }
  int32_t release() const { return release_; }

 private:
  const int32_t isolation_;
  const int32_t release_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Property>> properties_;
};

}  // namespace

struct InProcessComponentServices::GroupTable {
  struct Slot {
    std::weak_ptr<Group> group;
    std::shared_ptr<Group> kept;  // set for release mode Process: lives with the table
  };
  std::mutex mutex;
  std::map<std::string, Slot> slots;
};

namespace {

class Manager final : public SharedPropertyGroupManager {
 public:
  explicit Manager(std::shared_ptr<InProcessComponentServices::GroupTable> table) : table_(std::move(table)) {}

  std::shared_ptr<SharedPropertyGroup> CreatePropertyGroup(const std::string& name, int32_t* isolation,
                                                           int32_t* release, bool* exists) override {
    if (!isolation || !release) throw RuntimeError(kInvalidProcedureCall);
    std::lock_guard<std::mutex> guard(table_->mutex);
    auto& slot = table_->slots[name];
    if (auto group = slot.group.lock()) {
      *isolation = group->isolation();
      *release = group->release();
      if (exists) *exists = true;
      return group;
    }
    if ((*isolation != LockSetGet && *isolation != LockMethod) || (*release != Standard && *release != Process)) {
      throw RuntimeError(kInvalidProcedureCall);
    }
    auto group = std::make_shared<Group>(*isolation, *release);
    slot.group = group;
    slot.kept = *release == Process ? group : nullptr;
    if (exists) *exists = false;
    return group;
  }

 private:
  std::shared_ptr<InProcessComponentServices::GroupTable> table_;
};

}  // namespace

InProcessComponentServices::InProcessComponentServices() : groups_(std::make_shared<GroupTable>()) {}

InProcessComponentServices::~InProcessComponentServices() = default;

std::unique_ptr<SharedPropertyGroupManager> InProcessComponentServices::CreateSharedPropertyGroupManager() {
  if (!inside_) {
    throw ComError(CONTEXT_E_NOCONTEXT,
                   "The shared property manager is not available: the process is not running inside the "
                   "component services application.");
  }
  return std::make_unique<Manager>(groups_);
}

InProcessComponentServices& ProcessComponentServices() {
  static InProcessComponentServices* services = new InProcessComponentServices();  // never destroyed
  return *services;
}

void MarkInsideApplication() { ProcessComponentServices().SetInsideApplication(true); }

}  // namespace varnolt
