#include "hosting/registry_values.h"

#include <cstring>
#include <filesystem>
#include <vector>

#include "hosting/command_error.h"

namespace varnolt::hosting {
namespace {

std::string RootName(HKEY root) {
  return root == HKEY_CLASSES_ROOT ? "HKEY_CLASSES_ROOT" : "HKEY_LOCAL_MACHINE";
}

}  // namespace

std::string StatusMeaning(int32_t status) {
  switch (status) {
    case ERROR_ACCESS_DENIED:
      return ": access denied";
    case ERROR_BADDB:
      return ": the hive file is not a .reg file (" + std::string(kRepairAdvice) + ", and sets the damaged file aside)";
    case ERROR_REGISTRY_IO_FAILED:
      return ": the hive file cannot be read or written";
    default:
      return "";
  }
}

namespace {

[[noreturn]] void Fail(const std::string& doing, HKEY root, const std::string& subkey, int32_t status) {
  throw CommandError("registry: cannot " + doing + " " + RootName(root) + "\\" + subkey + " (status " +
                     std::to_string(status) + ")" + StatusMeaning(status));
}

// Closes a key handle when the scope ends.
class OpenedKey {
 public:
  OpenedKey(Registry& registry, HKEY key) : registry_(registry), key_(key) {}
  ~OpenedKey() { registry_.RegCloseKey(key_); }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  HKEY get() const { return key_; }

 private:
  Registry& registry_;
  HKEY key_;
};

}  // namespace

void RequireHiveFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    throw CommandError("the registry " + path + " does not exist (" + kRepairAdvice + ")");
  }
}

std::optional<RegValue> QueryValue(Registry& registry, HKEY root, const std::string& subkey,
                                   const std::string& name) {
  HKEY raw = 0;
  int32_t status = registry.RegOpenKeyEx(root, subkey, 0, KEY_QUERY_VALUE, &raw);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) Fail("open", root, subkey, status);
  OpenedKey key(registry, raw);
  RegValue value;
  status = RegReadValue(registry, key.get(), name, &value);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) Fail("read '" + name + "' of", root, subkey, status);
  return value;
}

void SetValue(Registry& registry, HKEY root, const std::string& subkey, const std::string& name,
              const RegValue& value) {
  HKEY raw = 0;
  int32_t status = registry.RegCreateKeyEx(root, subkey, KEY_WRITE, &raw);
  if (status != ERROR_SUCCESS) Fail("create", root, subkey, status);
  OpenedKey key(registry, raw);
  status = registry.RegSetValueEx(key.get(), name, value.type, value.data.data(),
                                  static_cast<uint32_t>(value.data.size()));
  if (status != ERROR_SUCCESS) Fail("write '" + name + "' of", root, subkey, status);
}

bool DeleteValue(Registry& registry, HKEY root, const std::string& subkey, const std::string& name) {
  HKEY raw = 0;
  int32_t status = registry.RegOpenKeyEx(root, subkey, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, &raw);
  if (status == ERROR_FILE_NOT_FOUND) return false;
  if (status != ERROR_SUCCESS) Fail("open", root, subkey, status);
  OpenedKey key(registry, raw);
  status = registry.RegDeleteValue(key.get(), name);
  if (status == ERROR_FILE_NOT_FOUND) return false;
  if (status != ERROR_SUCCESS) Fail("delete '" + name + "' of", root, subkey, status);
  return true;
}

RegValue StringValue(const std::string& text) {
  RegValue value{REG_SZ, std::vector<uint8_t>(text.begin(), text.end())};
  value.data.push_back(0);
  return value;
}

RegValue DwordValue(uint32_t number) {
  RegValue value{REG_DWORD, std::vector<uint8_t>(4)};
  std::memcpy(value.data.data(), &number, 4);  // little-endian, as the registry keeps it
  return value;
}

std::string DisplayText(const RegValue& value) {
  if (value.type == REG_SZ) return RegSzText(value.data.data(), value.data.size());
  if (value.type == REG_DWORD && value.data.size() == 4) {
    int32_t number = 0;
    std::memcpy(&number, value.data.data(), 4);
    return std::to_string(number);
  }
  // The data part of the .reg line(s), joined: "hex(2):41,00,...".
  std::string text;
  for (std::string line : FormatValueLines(NamedValue{"", value})) {
    if (!line.empty() && line.back() == '\\') line.pop_back();  // continued on the next line
    const size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) text += line.substr(first);
  }
  const size_t equals = text.find('=');
  return equals == std::string::npos ? text : text.substr(equals + 1);
}

std::string TypeName(uint32_t type) {
  switch (type) {
    case REG_SZ:
      return "sz";
    case REG_DWORD:
      return "dword";
    case REG_BINARY:
      return "hex";
    default:
      return "hex(" + std::to_string(type) + ")";
  }
}

}  // namespace varnolt::hosting
