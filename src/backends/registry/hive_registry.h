// The registry over one .reg hive file. HKEY_LOCAL_MACHINE is the hive's
// root; HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes. Opening a key
// reads the file afresh (another process may have changed it) and keeps a
// snapshot of its values until the key is closed; writes go straight to the file.
// Statuses: 0, 2 not found, 5 access denied (mask or file permissions),
// 6 invalid handle, 87 invalid parameter, 234 more data, 1016 hive file I/O.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "backends/registry/hive_file.h"
#include "platform/registry.h"

namespace varnolt {

class HiveRegistry final : public Registry {
 public:
  // A missing hive file reads as an empty hive; the first write creates it.
  explicit HiveRegistry(std::string hive_path);

  int32_t RegOpenKeyEx(HKEY root, const std::string& subkey, uint32_t options, uint32_t access,
                       HKEY* result) override;
  int32_t RegQueryValueEx(HKEY key, const std::string& name, uint32_t* type, uint8_t* data,
                          uint32_t* size) override;
  int32_t RegCloseKey(HKEY key) override;
  int32_t RegCreateKeyEx(HKEY root, const std::string& subkey, uint32_t access, HKEY* result) override;
  int32_t RegSetValueEx(HKEY key, const std::string& name, uint32_t type, const uint8_t* data,
                        uint32_t size) override;
  int32_t RegDeleteValue(HKEY key, const std::string& name) override;
  int32_t RegDeleteTree(HKEY root, const std::string& subkey) override;

  const std::string& hive_path() const { return file_.path(); }

 private:
  struct OpenKey {
    std::string path;  // canonical
    uint32_t access = 0;
    std::map<std::string, NamedValue> values;  // by folded name, as read at open or after our own write
  };

  // The key behind a handle: an open one, or a root (full access, read now).
  int32_t Resolve(HKEY key, OpenKey* out);
  // The path a root handle or an open key stands for, with its access mask.
  int32_t BasePath(HKEY root, std::string* path, uint32_t* access);
  HKEY AddHandle(OpenKey key);
  void Refresh(HKEY key, const std::map<std::string, NamedValue>& values);

  HiveFile file_;
  std::mutex mutex_;  // guards handles_ and next_handle_
  std::map<HKEY, OpenKey> handles_;
  HKEY next_handle_ = 1;
};

}  // namespace varnolt
