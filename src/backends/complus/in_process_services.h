// The shared property manager inside one process: named groups of named
// properties holding a Variant, shared by every manager object made by the same
// services object. Each read or write of a property takes that property's own
// lock; a LockMethod group is served the same way, since no caller here spans
// a method over several accesses.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/shared_properties.h"

namespace varnolt {

class InProcessComponentServices final : public ComponentServices {
 public:
  // Outside the application until told otherwise.
  InProcessComponentServices();
  ~InProcessComponentServices() override;

  // Throws ComError(CONTEXT_E_NOCONTEXT) while not inside the application.
  std::unique_ptr<SharedPropertyGroupManager> CreateSharedPropertyGroupManager() override;

  void SetInsideApplication(bool inside) { inside_ = inside; }
  bool InsideApplication() const { return inside_; }

  struct GroupTable;  // the groups, shared with the managers

 private:
  std::atomic<bool> inside_{false};
  std::shared_ptr<GroupTable> groups_;
};

// The services of this process, for the real host (tests make their own).
InProcessComponentServices& ProcessComponentServices();

// Marks this process as running inside the application: from now on the
// process's shared property manager can be created.
void MarkInsideApplication();

}  // namespace varnolt
