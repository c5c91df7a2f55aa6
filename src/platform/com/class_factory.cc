#include "platform/com/class_factory.h"

namespace varnolt {

const IID IID_IClassFactory = Guid::FromLiteral("{00000001-0000-0000-C000-000000000046}");

HRESULT ClassFactory::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IClassFactory) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  IUnknown* object = nullptr;
  try {
    object = maker_();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (!object) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

HRESULT ClassFactory::LockServer(bool lock) {
  if (lock) {
    ModuleLocks::Increment();
  } else {
    ModuleLocks::Decrement();
  }
  return S_OK;
}

}  // namespace varnolt
