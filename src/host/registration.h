// Self-registration: the keys under HKEY_LOCAL_MACHINE\Software\Classes that
// name the class, its programmatic identifier, the type library and the
// default interface, and point at the library file.
#pragma once

#include <string>

#include "platform/com/hresult.h"
#include "platform/registry.h"

namespace varnolt {

// Writes every key and value; SELFREG_E_CLASS on the first write that fails.
HRESULT RegisterServer(Registry& registry, const std::string& library_path);

// Removes the four trees RegisterServer writes (the class, the programmatic
// identifier, the type library, the interface); missing ones are skipped.
HRESULT UnregisterServer(Registry& registry);

}  // namespace varnolt
