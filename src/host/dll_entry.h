// The entry points of libvarnoltfilter.so, for a host that loads it with dlopen.
// A host first calls VarnoltAttachPlatform with its platform (registry, shared
// properties, event log, files, clock, engine factory); until then
// DllGetClassObject and DllRegisterServer fail with E_UNEXPECTED.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace varnolt {
class Platform;
}

#define VARNOLT_EXPORT __attribute__((visibility("default")))

extern "C" {

// The class factory of ExchangeFilter (the only class) for riid, in *ppv.
// CLASS_E_CLASSNOTAVAILABLE for another class identifier.
VARNOLT_EXPORT varnolt::HRESULT DllGetClassObject(const varnolt::Guid* rclsid, const varnolt::Guid* riid,
                                                  void** ppv);
// S_OK when no object of the library is alive and no factory lock is held, else S_FALSE.
VARNOLT_EXPORT varnolt::HRESULT DllCanUnloadNow();
// Writes the class, its programmatic identifier, the type library, the
// interface and the library's own path into the platform's registry under
// HKEY_LOCAL_MACHINE\Software\Classes. SELFREG_E_CLASS when a write fails.
VARNOLT_EXPORT varnolt::HRESULT DllRegisterServer();
// Removes exactly the keys DllRegisterServer writes; keys already gone are fine.
VARNOLT_EXPORT varnolt::HRESULT DllUnregisterServer();
// Gives the library the host's platform, which must outlive every object the
// library hands out; null detaches it.
VARNOLT_EXPORT varnolt::HRESULT VarnoltAttachPlatform(varnolt::Platform* platform);

}  // extern "C"

// The entry points' types, for dlsym.
using DllGetClassObjectFunction = varnolt::HRESULT (*)(const varnolt::Guid*, const varnolt::Guid*, void**);
using DllCanUnloadNowFunction = varnolt::HRESULT (*)();
using DllRegisterServerFunction = varnolt::HRESULT (*)();
using DllUnregisterServerFunction = varnolt::HRESULT (*)();
using VarnoltAttachPlatformFunction = varnolt::HRESULT (*)(varnolt::Platform*);
