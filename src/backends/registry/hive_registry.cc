#include "backends/registry/hive_registry.h"

#include <algorithm>
#include <cstring>

#include "backends/registry/key_path.h"

namespace varnolt {
namespace {

constexpr uint32_t kRootAccess = KEY_ALL_ACCESS;

bool IsRootHandle(HKEY key) { return key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT; }

std::string RootPath(HKEY key) { return key == HKEY_CLASSES_ROOT ? kClassesRoot : kMachineRoot; }

// REG_SZ is kept as its text up to the first NUL, plus one NUL, whatever
// size the caller counted: the file writes it as a quoted string.
RegValue MakeValue(uint32_t type, const uint8_t* data, uint32_t size) {
  RegValue value{type, std::vector<uint8_t>(data, data + size)};
  if (type == REG_SZ) {
    const auto nul = std::find(value.data.begin(), value.data.end(), 0);
    value.data.erase(nul, value.data.end());
    value.data.push_back(0);
  }
  return value;
}

}  // namespace

HiveRegistry::HiveRegistry(std::string hive_path) : file_(std::move(hive_path)) {}

int32_t HiveRegistry::BasePath(HKEY root, std::string* path, uint32_t* access) {
  if (IsRootHandle(root)) {
    *path = RootPath(root);
    *access = kRootAccess;
    return ERROR_SUCCESS;
  }
  std::lock_guard<std::mutex> guard(mutex_);
  const auto it = handles_.find(root);
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  *path = it->second.path;
  *access = it->second.access;
  return ERROR_SUCCESS;
}

int32_t HiveRegistry::Resolve(HKEY key, OpenKey* out) {
  if (IsRootHandle(key)) {
    HiveDocument doc;
    if (const int32_t status = file_.Read(&doc); status != ERROR_SUCCESS) return status;
    *out = OpenKey{RootPath(key), kRootAccess, doc.Values(RootPath(key))};
    return ERROR_SUCCESS;
  }
  std::lock_guard<std::mutex> guard(mutex_);
  const auto it = handles_.find(key);
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  *out = it->second;
  return ERROR_SUCCESS;
}

HKEY HiveRegistry::AddHandle(OpenKey key) {
  std::lock_guard<std::mutex> guard(mutex_);
  const HKEY handle = next_handle_++;
  handles_.emplace(handle, std::move(key));
  return handle;
}

void HiveRegistry::Refresh(HKEY key, const std::map<std::string, NamedValue>& values) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto it = handles_.find(key);
  if (it != handles_.end()) it->second.values = values;
}

int32_t HiveRegistry::RegOpenKeyEx(HKEY root, const std::string& subkey, uint32_t /*options*/, uint32_t access,
                                   HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  std::string base;
  uint32_t base_access = 0;
  if (const int32_t status = BasePath(root, &base, &base_access); status != ERROR_SUCCESS) return status;
  const std::string path = JoinKeyPath(base, subkey);
  HiveDocument doc;
  if (const int32_t status = file_.Read(&doc); status != ERROR_SUCCESS) return status;
  if (!doc.KeyExists(path)) return ERROR_FILE_NOT_FOUND;
  *result = AddHandle(OpenKey{path, access, doc.Values(path)});
  return ERROR_SUCCESS;
}

int32_t HiveRegistry::RegQueryValueEx(HKEY key, const std::string& name, uint32_t* type, uint8_t* data,
                                      uint32_t* size) {
  OpenKey open;
  if (const int32_t status = Resolve(key, &open); status != ERROR_SUCCESS) return status;
  if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  const auto it = open.values.find(FoldCase(name));
  if (it == open.values.end()) return ERROR_FILE_NOT_FOUND;
  const RegValue& value = it->second.value;
  const auto needed = static_cast<uint32_t>(value.data.size());
  if (type) *type = value.type;
  if (!data) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  if (!size) return ERROR_INVALID_PARAMETER;
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed > 0) std::memcpy(data, value.data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

int32_t HiveRegistry::RegCloseKey(HKEY key) {
  if (IsRootHandle(key)) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> guard(mutex_);
  return handles_.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

int32_t HiveRegistry::RegCreateKeyEx(HKEY root, const std::string& subkey, uint32_t access, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  std::string base;
  uint32_t base_access = 0;
  if (const int32_t status = BasePath(root, &base, &base_access); status != ERROR_SUCCESS) return status;
  if (!(base_access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
  const std::string path = JoinKeyPath(base, subkey);
  std::map<std::string, NamedValue> values;
  const int32_t status = file_.Modify([&](HiveDocument& doc, bool* changed) {
    *changed = doc.CreateKey(path);
    values = doc.Values(path);
    return ERROR_SUCCESS;
  });
  if (status != ERROR_SUCCESS) return status;
  *result = AddHandle(OpenKey{path, access, std::move(values)});
  return ERROR_SUCCESS;
}

int32_t HiveRegistry::RegSetValueEx(HKEY key, const std::string& name, uint32_t type, const uint8_t* data,
                                    uint32_t size) {
  if (!data && size > 0) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (const int32_t status = Resolve(key, &open); status != ERROR_SUCCESS) return status;
  if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const NamedValue value{name, MakeValue(type, data, size)};
  std::map<std::string, NamedValue> values;
  const int32_t status = file_.Modify([&](HiveDocument& doc, bool* changed) {
    if (!doc.KeyExists(open.path)) return ERROR_FILE_NOT_FOUND;  // deleted since it was opened
    doc.SetValue(open.path, value);
    *changed = true;
    values = doc.Values(open.path);
    return ERROR_SUCCESS;
  });
  if (status == ERROR_SUCCESS) Refresh(key, values);
  return status;
}

int32_t HiveRegistry::RegDeleteValue(HKEY key, const std::string& name) {
  OpenKey open;
  if (const int32_t status = Resolve(key, &open); status != ERROR_SUCCESS) return status;
  if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::map<std::string, NamedValue> values;
  const int32_t status = file_.Modify([&](HiveDocument& doc, bool* changed) {
    *changed = doc.DeleteValue(open.path, name);
    values = doc.Values(open.path);
    return *changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
  if (status == ERROR_SUCCESS) Refresh(key, values);
  return status;
}

int32_t HiveRegistry::RegDeleteTree(HKEY root, const std::string& subkey) {
  std::string base;
  uint32_t base_access = 0;
  if (const int32_t status = BasePath(root, &base, &base_access); status != ERROR_SUCCESS) return status;
  if (!(base_access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const std::string path = JoinKeyPath(base, subkey);
  const bool whole_key = !SplitKeyPath(subkey).empty();
  return file_.Modify([&](HiveDocument& doc, bool* changed) {
    if (!doc.KeyExists(path)) return ERROR_FILE_NOT_FOUND;
    // Without a subkey the key itself stays and only its contents go.
    if (whole_key) {
      doc.DeleteTree(path);
    } else {
      doc.ClearKey(path);
    }
    *changed = true;
    return ERROR_SUCCESS;
  });
}

}  // namespace varnolt
