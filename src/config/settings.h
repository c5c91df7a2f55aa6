// Reading the filter's settings from the registry key HKEY_LOCAL_MACHINE\Software\Varnolt.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/variant.h"
#include "platform/names/data_layout.h"
#include "platform/registry.h"

namespace varnolt {

// The value of that name under the settings key, or the empty value when the
// key cannot be opened or the value cannot be read. Logs nothing.
Variant ReadRegistrySetting(Registry& registry, const std::string& name);

// Two-step query of one value into *value: 0 on success, the registry's status
// when the value cannot be queried (slot unchanged), -1 for a type other than
// REG_SZ and REG_DWORD (slot unchanged).
int32_t ReadRegistryValue(Registry& registry, HKEY key, const std::string& name, Variant* value);

}  // namespace varnolt
