#include "config/settings.h"

#include <exception>
#include <vector>

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
  uint32_t type = 0;
  uint32_t size = 0;
  int32_t status = registry.RegQueryValueEx(key, name, &type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  if (type == REG_SZ) {
    // No data at all, not even the NUL: nothing to read, the slot stays as it is.
    if (size == 0) return status;
    std::vector<uint8_t> buffer(size, 0);
    status = registry.RegQueryValueEx(key, name, &type, buffer.data(), &size);
    if (status != ERROR_SUCCESS) {
      *value = Variant();
      return status;
    }
    if (size == 0) return status;
    *value = Variant::Text(RegSzText(buffer.data(), size));
    return status;
  }
  if (type == REG_DWORD) {
    // The buffer's own size, not the stored one: a longer value reports
    // "more data" instead of overrunning the four bytes.
    uint8_t bytes[4] = {0, 0, 0, 0};
    uint32_t dword_size = sizeof bytes;
    status = registry.RegQueryValueEx(key, name, &type, bytes, &dword_size);
    if (status == ERROR_SUCCESS) {
      const uint32_t number = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
      *value = Variant::Int32(static_cast<int32_t>(number));
    }
    return status;
  }
  return -1;
}

}  // namespace varnolt
