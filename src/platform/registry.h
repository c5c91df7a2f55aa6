// The registry in the shape of the Win32 Reg* calls: status codes as numbers,
// values queried in two steps (type and size first, then the data).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace varnolt {

using HKEY = uintptr_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

constexpr int32_t ERROR_SUCCESS = 0;
constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
constexpr int32_t ERROR_ACCESS_DENIED = 5;
constexpr int32_t ERROR_INVALID_HANDLE = 6;
constexpr int32_t ERROR_INVALID_PARAMETER = 87;
constexpr int32_t ERROR_MORE_DATA = 234;
constexpr int32_t ERROR_BADDB = 1009;  // the hive file is no .reg file (nor its UTF-16 form)
constexpr int32_t ERROR_REGISTRY_IO_FAILED = 1016;  // the hive file could not be read or replaced

constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr uint32_t KEY_SET_VALUE = 0x0002;
constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;

// The text of a REG_SZ value's data, as the filter and every host take it:
// the data less the NUL that ends it (a NUL inside stays, as the filter reads
// it); data stored without one keeps all its bytes.
inline std::string RegSzText(const uint8_t* data, size_t size) {
  if (size > 0 && data[size - 1] == 0) --size;
  return std::string(reinterpret_cast<const char*>(data), size);
}

struct RegValue {
  uint32_t type = 0;
  std::vector<uint8_t> data;  // REG_SZ: the text and its NUL

  bool operator==(const RegValue&) const = default;
};

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens root\subkey with the access mask; key and value names ignore letter case.
  virtual int32_t RegOpenKeyEx(HKEY root, const std::string& subkey, uint32_t options, uint32_t access,
                               HKEY* result) = 0;
  // data == nullptr: stores the type and the data size (REG_SZ counts its NUL).
  // Otherwise copies the data when *size is large enough (ERROR_MORE_DATA if
  // not) and sets *size to the bytes written. type may be null.
  virtual int32_t RegQueryValueEx(HKEY key, const std::string& name, uint32_t* type, uint8_t* data,
                                  uint32_t* size) = 0;
  virtual int32_t RegCloseKey(HKEY key) = 0;

  // Writers, for registration and administration. A write replaces the hive
  // file atomically and keeps every key and value it does not touch.
  virtual int32_t RegCreateKeyEx(HKEY root, const std::string& subkey, uint32_t access, HKEY* result) = 0;
  virtual int32_t RegSetValueEx(HKEY key, const std::string& name, uint32_t type, const uint8_t* data,
                                uint32_t size) = 0;
  virtual int32_t RegDeleteValue(HKEY key, const std::string& name) = 0;
  // Removes root\subkey with all its subkeys and values.
  virtual int32_t RegDeleteTree(HKEY root, const std::string& subkey) = 0;
};

// Reads a value whole in the two steps of RegQueryValueEx (its type and size,
// then its data); the registry's status. value->type is set once the first
// step succeeds, value->data only when the whole read does.
inline int32_t RegReadValue(Registry& registry, HKEY key, const std::string& name, RegValue* value) {
  uint32_t type = 0;
  uint32_t size = 0;
  int32_t status = registry.RegQueryValueEx(key, name, &type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  value->type = type;
  std::vector<uint8_t> data(size);
  status = registry.RegQueryValueEx(key, name, &type, data.data(), &size);
  if (status != ERROR_SUCCESS) return status;
  data.resize(size);
  value->data = std::move(data);
  return status;
}

}  // namespace varnolt
