#include "host/registration.h"

#include <vector>

#include "host/interfaces.h"

namespace varnolt {
namespace {

constexpr const char* kClasses = "Software\\Classes\\";
constexpr const char* kDispatchProxyStub = "{00020424-0000-0000-C000-000000000046}";

struct StringValue {
  std::string key;  // below HKEY_LOCAL_MACHINE
  std::string name;  // "" for the default value
  std::string data;
};

std::string ClassKey() { return std::string(kClasses) + "CLSID\\" + CLSID_ExchangeFilter.ToString(); }
std::string ProgIdKey() { return std::string(kClasses) + kProgId; }
std::string TypeLibKey() { return std::string(kClasses) + "TypeLib\\" + LIBID_VarnoltFilter.ToString(); }
std::string InterfaceKey() { return std::string(kClasses) + "Interface\\" + IID_ExchangeFilterDefault.ToString(); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::vector<StringValue> RegistrationValues(const std::string& library_path) {
  const std::string clsid = CLSID_ExchangeFilter.ToString();
  const std::string libid = LIBID_VarnoltFilter.ToString();
  const std::string version = TypeLibKey() + "\\1.0";
  return {
      {ClassKey(), "", kProgId},
      {ClassKey() + "\\InprocServer32", "", library_path},
      {ClassKey() + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {ClassKey() + "\\ProgID", "", kProgId},
      {ClassKey() + "\\TypeLib", "", libid},
      {ClassKey() + "\\VERSION", "", "1.0"},
      {ProgIdKey(), "", kProgId},
      {ProgIdKey() + "\\CLSID", "", clsid},
      {version, "", kLibraryTitle},
      {version + "\\0\\linux", "", library_path},  // the type library travels inside the library
      {version + "\\FLAGS", "", "0"},
      {version + "\\HELPDIR", "", FolderOf(library_path)},
      {InterfaceKey(), "", "_ExchangeFilter"},
      {InterfaceKey() + "\\ProxyStubClsid32", "", kDispatchProxyStub},
      {InterfaceKey() + "\\TypeLib", "", libid},
      {InterfaceKey() + "\\TypeLib", "Version", "1.0"},
  };
}

int32_t WriteString(Registry& registry, const StringValue& value) {
  HKEY key = 0;
  int32_t status = registry.RegCreateKeyEx(HKEY_LOCAL_MACHINE, value.key, KEY_WRITE | KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return status;
  const auto* bytes = reinterpret_cast<const uint8_t*>(value.data.c_str());
  status = registry.RegSetValueEx(key, value.name, REG_SZ, bytes, static_cast<uint32_t>(value.data.size() + 1));
  registry.RegCloseKey(key);
  return status;
}

}  // namespace

HRESULT RegisterServer(Registry& registry, const std::string& library_path) {
  for (const auto& value : RegistrationValues(library_path)) {
    if (WriteString(registry, value) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  }
  return S_OK;
}

HRESULT UnregisterServer(Registry& registry) {
  HRESULT result = S_OK;
  for (const auto& key : {ClassKey(), ProgIdKey(), TypeLibKey(), InterfaceKey()}) {
    const int32_t status = registry.RegDeleteTree(HKEY_LOCAL_MACHINE, key);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = SELFREG_E_CLASS;
  }
  return result;
}

}  // namespace varnolt
