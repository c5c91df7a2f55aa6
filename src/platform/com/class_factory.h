// The class factory a library hands out for each class it can create.
#pragma once

#include <functional>

#include "platform/com/unknown.h"

namespace varnolt {

extern const IID IID_IClassFactory;

class IClassFactory : public IUnknown {
 public:
  // Creates one object and queries it for iid; aggregation (outer != null) is refused.
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) = 0;
  // Keeps the module loaded while locked (counted by DllCanUnloadNow).
  virtual HRESULT LockServer(bool lock) = 0;
};

// A factory that makes objects with a function returning a new object holding one reference.
class ClassFactory final : public RefCounted<IClassFactory> {
 public:
  using Maker = std::function<IUnknown*()>;
  explicit ClassFactory(Maker maker) : maker_(std::move(maker)) {}

  HRESULT QueryInterface(const IID& iid, void** out) override;
  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) override;
  HRESULT LockServer(bool lock) override;

 private:
  Maker maker_;
};

}  // namespace varnolt
