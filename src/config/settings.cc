#include "config/settings.h"

#include <exception>

namespace varnolt {

Variant ReadRegistrySetting(Registry& registry, const std::string& name) {
  Variant result;
  HKEY key = 0;
  if (registry.RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return result;
  }
  try {
    Variant value;
    if (ReadRegistryValue(registry, key, name, &value) == 0) result = value;
  } catch (const std::exception&) {
    // An unexpected failure ends the read with the result as it stands.
  }
  registry.RegCloseKey(key);
  return result;
}

int32_t ReadRegistryValue(Registry& registry, HKEY key, const std::string& name, Variant* value) {
  RegValue stored;
  const int32_t status = RegReadValue(registry, key, name, &stored);
  if (stored.type == REG_SZ) {
    if (status != ERROR_SUCCESS) {
      *value = Variant();
      return status;
    }
    // No data at all, not even the NUL: nothing to read, the slot stays as it is.
    if (stored.data.empty()) return status;
    *value = Variant::Text(RegSzText(stored.data.data(), stored.data.size()));
    return status;
  }
  if (status != ERROR_SUCCESS) return status;
  if (stored.type == REG_DWORD) {
    // More than four bytes is no number the filter reads.
    if (stored.data.size() > 4) return ERROR_MORE_DATA;
    stored.data.resize(4, 0);
    const uint8_t* bytes = stored.data.data();
    const uint32_t number = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    *value = Variant::Int32(static_cast<int32_t>(number));
    return status;
  }
  return -1;
}

}  // namespace varnolt
