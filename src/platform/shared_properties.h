// The component services shared property manager: process-wide named groups of
// named properties holding a Variant. Each read or write of one property is
// locked on its own. Failures throw ComError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/com/variant.h"

namespace varnolt {

constexpr int32_t LockSetGet = 0;  // isolation: each property access locked on its own
constexpr int32_t LockMethod = 1;  // isolation: locked for the caller's whole method
constexpr int32_t Standard = 0;    // release: the group goes with its last reference
constexpr int32_t Process = 1;     // release: the group lives until the process ends

class SharedProperty {
 public:
  virtual ~SharedProperty() = default;
  // The value; the empty value for a property never assigned.
  virtual Variant Value() = 0;
  virtual void SetValue(const Variant& value) = 0;
};

class SharedPropertyGroup {
 public:
  virtual ~SharedPropertyGroup() = default;
  // Opens the property, creating it (empty) when missing; *exists tells which.
  virtual std::shared_ptr<SharedProperty> CreateProperty(const std::string& name, bool* exists) = 0;
};

class SharedPropertyGroupManager {
 public:
  virtual ~SharedPropertyGroupManager() = default;
  // Opens the group, creating it when missing; *exists tells which. For an
  // existing group the modes it was created with are stored back.
  virtual std::shared_ptr<SharedPropertyGroup> CreatePropertyGroup(const std::string& name, int32_t* isolation,
                                                                   int32_t* release, bool* exists) = 0;
};

class ComponentServices {
 public:
  virtual ~ComponentServices() = default;
  // A new manager object over the process's groups; throws ComError
  // (CONTEXT_E_NOCONTEXT) when the process is not running inside the application.
  virtual std::unique_ptr<SharedPropertyGroupManager> CreateSharedPropertyGroupManager() = 0;
};

}  // namespace varnolt
