#include "platform/mailstore/event_info.h"

namespace varnolt::mailstore {

HRESULT EventInfo::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IExStoreDispEventInfo) return E_NOINTERFACE;
  *out = static_cast<IExStoreDispEventInfo*>(this);
  AddRef();
  return S_OK;
}

}  // namespace varnolt::mailstore
