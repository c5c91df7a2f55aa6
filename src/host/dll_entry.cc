#include "host/dll_entry.h"

#include <atomic>
#include <new>

#include "host/exchange_filter.h"
#include "host/registration.h"
#include "platform/com/class_factory.h"
#include "platform/module/loaded_library.h"

namespace {

std::atomic<varnolt::Platform*> g_platform{nullptr};

// An address inside this library, to find the file it was loaded from.
const char kLibraryAnchor = 0;

}  // namespace

using varnolt::HRESULT;

extern "C" {

HRESULT DllGetClassObject(const varnolt::Guid* rclsid, const varnolt::Guid* riid, void** ppv) {
  if (!ppv) return varnolt::E_POINTER;
  *ppv = nullptr;
  if (!rclsid || !riid) return varnolt::E_INVALIDARG;
  varnolt::Platform* platform = g_platform.load();
  if (!platform) return varnolt::E_UNEXPECTED;
  if (*rclsid != varnolt::CLSID_ExchangeFilter) return varnolt::CLASS_E_CLASSNOTAVAILABLE;
  try {
    auto* factory = new varnolt::ClassFactory([platform]() -> varnolt::IUnknown* {
      return static_cast<varnolt::IExchangeFilter*>(new varnolt::ExchangeFilter(*platform));
    });
    const HRESULT hr = factory->QueryInterface(*riid, ppv);
    factory->Release();
    return hr;
  } catch (const std::bad_alloc&) {
    return varnolt::E_OUTOFMEMORY;
  }
}

HRESULT DllCanUnloadNow() { return varnolt::ModuleLocks::Count() == 0 ? varnolt::S_OK : varnolt::S_FALSE; }

HRESULT DllRegisterServer() {
  varnolt::Platform* platform = g_platform.load();
  if (!platform) return varnolt::E_UNEXPECTED;
  const std::string path = varnolt::LoadedLibraryPath(&kLibraryAnchor);
  if (path.empty()) return varnolt::SELFREG_E_CLASS;
  try {
    return varnolt::RegisterServer(platform->Reg(), path);
  } catch (...) {
    return varnolt::SELFREG_E_CLASS;
  }
}

HRESULT DllUnregisterServer() {
  varnolt::Platform* platform = g_platform.load();
  if (!platform) return varnolt::E_UNEXPECTED;
  try {
    return varnolt::UnregisterServer(platform->Reg());
  } catch (...) {
    return varnolt::SELFREG_E_CLASS;
  }
}

HRESULT VarnoltAttachPlatform(varnolt::Platform* platform) {
  g_platform.store(platform);
  return varnolt::S_OK;
}

}  // extern "C"
