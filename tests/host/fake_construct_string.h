// The construction object component services hand to Construct.
#pragma once

#include <string>

#include "host/interfaces.h"
#include "platform/com/com_error.h"

namespace varnolt {

// Its first `failing_reads` reads fail with 70 "Permission denied".
class FakeConstructString final : public RefCounted<IObjectConstructString> {
 public:
  explicit FakeConstructString(std::string text, int failing_reads = 0)
      : text_(std::move(text)), failing_reads_(failing_reads) {}
  HRESULT QueryInterface(const IID& iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IObjectConstructString) return E_NOINTERFACE;
    AddRef();
    *out = static_cast<IObjectConstructString*>(this);
    return S_OK;
  }
  HRESULT get_ConstructString(std::string* value) override {
    if (failing_reads_ > 0) {
      --failing_reads_;
      return ReturnError(RuntimeError(kPermissionDenied));
    }
    *value = text_;
    return S_OK;
  }

 private:
  std::string text_;
  int failing_reads_;
};

}  // namespace varnolt
