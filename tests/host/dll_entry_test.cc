#include "host/dll_entry.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include "host/exchange_filter.h"
#include "host/fake_construct_string.h"
#include "platform/com/class_factory.h"
#include "support/fake_platform.h"

namespace varnolt {
namespace {

const std::string kClasses = "Software\\Classes\\";

// The REG_SZ value root\subkey\name of the platform's registry; "<missing>" when absent.
std::string RegText(Registry& registry, const std::string& subkey, const std::string& name = "") {
  HKEY key = 0;
  if (registry.RegOpenKeyEx(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return "<missing>";
  uint32_t type = 0, size = 0;
  std::string data;
  int32_t status = registry.RegQueryValueEx(key, name, &type, nullptr, &size);
  if (status == ERROR_SUCCESS && type == REG_SZ) {
    data.resize(size);
    status = registry.RegQueryValueEx(key, name, &type, reinterpret_cast<uint8_t*>(data.data()), &size);
  }
  registry.RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ || data.empty()) return "<missing>";
  return data.substr(0, data.size() - 1);
}

void ExpectRegistered(Registry& registry, const std::string& library_path) {
  const std::string clsid = kClasses + "CLSID\\{315CB529-FD59-4E93-B342-4959EF4B20B8}";
  const std::string libid = kClasses + "TypeLib\\{62D8754B-E0AB-4CF5-BD32-6FAB0C944375}\\1.0";
  const std::string iid = kClasses + "Interface\\{DA12D50C-321F-4BDD-B944-24387309E40B}";
  EXPECT_EQ("VarnoltFilter.ExchangeFilter", RegText(registry, clsid));
  EXPECT_EQ(library_path, RegText(registry, clsid + "\\InprocServer32"));
  EXPECT_EQ("Apartment", RegText(registry, clsid + "\\InprocServer32", "ThreadingModel"));
  EXPECT_EQ("VarnoltFilter.ExchangeFilter", RegText(registry, clsid + "\\ProgID"));
  EXPECT_EQ("{62D8754B-E0AB-4CF5-BD32-6FAB0C944375}", RegText(registry, clsid + "\\TypeLib"));
  EXPECT_EQ("1.0", RegText(registry, clsid + "\\VERSION"));
  EXPECT_EQ("{315CB529-FD59-4E93-B342-4959EF4B20B8}", RegText(registry, kClasses + "VarnoltFilter.ExchangeFilter\\CLSID"));
  EXPECT_EQ("VarnoltFilter", RegText(registry, libid));
  EXPECT_EQ(library_path, RegText(registry, libid + "\\0\\linux"));
  EXPECT_EQ("_ExchangeFilter", RegText(registry, iid));
}

class DllEntryTest : public ::testing::Test {
 protected:
  ~DllEntryTest() override { VarnoltAttachPlatform(nullptr); }
  testing::FakePlatform platform_;
};

TEST_F(DllEntryTest, WithoutAPlatformNothingIsHandedOut) {
  void* out = &out;
  EXPECT_EQ(E_UNEXPECTED, DllGetClassObject(&CLSID_ExchangeFilter, &IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_UNEXPECTED, DllRegisterServer());
  EXPECT_EQ(E_UNEXPECTED, DllUnregisterServer());
  EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST_F(DllEntryTest, FactoryMakesFiltersAndUnloadWaitsForThem) {
  ASSERT_EQ(S_OK, VarnoltAttachPlatform(&platform_));
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(&IID_IUnknown, &IID_IClassFactory, factory.OutVoid()));
  ASSERT_EQ(S_OK, DllGetClassObject(&CLSID_ExchangeFilter, &IID_IClassFactory, factory.OutVoid()));
  EXPECT_EQ(S_FALSE, DllCanUnloadNow());

  ComPtr<IExStoreSystemEvents> events;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IExStoreSystemEvents, events.OutVoid()));
  EXPECT_EQ(S_OK, events->OnTimer("", 0));
  factory = nullptr;
  EXPECT_EQ(S_FALSE, DllCanUnloadNow());
  events = nullptr;
  EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST_F(DllEntryTest, RegisterThenUnregisterLeavesTheHiveAsItWas) {
  const std::string before =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Varnolt]\r\n"
      "\"DebugLevel\"=dword:00000001\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{0}]\r\n@=\"other\"\r\n\r\n";
  platform_.WriteFile(platform_.hive_path(), before);
  ASSERT_EQ(S_OK, VarnoltAttachPlatform(&platform_));
  ASSERT_EQ(S_OK, DllRegisterServer());
  ASSERT_EQ(S_OK, DllRegisterServer());  // again: nothing doubles

  char self[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath("/proc/self/exe", self));
  ExpectRegistered(platform_.Reg(), self);
  EXPECT_EQ("other", RegText(platform_.Reg(), kClasses + "CLSID\\{0}"));

  EXPECT_EQ(S_OK, DllUnregisterServer());
  EXPECT_EQ(before, platform_.ReadFile(platform_.hive_path()));
  EXPECT_EQ(S_OK, DllUnregisterServer());
}

// The built library, loaded as a host loads it.
TEST_F(DllEntryTest, SharedLibraryExportsTheEntryPoints) {
  const std::string path = std::string(VARNOLT_BINARY_DIR) + "/libvarnoltfilter.so";
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, library) << "build libvarnoltfilter.so first: " << ::dlerror();
  auto attach = reinterpret_cast<VarnoltAttachPlatformFunction>(::dlsym(library, "VarnoltAttachPlatform"));
  auto get_class = reinterpret_cast<DllGetClassObjectFunction>(::dlsym(library, "DllGetClassObject"));
  auto can_unload = reinterpret_cast<DllCanUnloadNowFunction>(::dlsym(library, "DllCanUnloadNow"));
  auto reg = reinterpret_cast<DllRegisterServerFunction>(::dlsym(library, "DllRegisterServer"));
  auto unreg = reinterpret_cast<DllUnregisterServerFunction>(::dlsym(library, "DllUnregisterServer"));
  ASSERT_TRUE(attach && get_class && can_unload && reg && unreg);
  EXPECT_EQ(nullptr, ::dlsym(library, "RunSaveEvent"));  // nothing else leaks out

  ASSERT_EQ(E_UNEXPECTED, reg());
  ASSERT_EQ(S_OK, attach(&platform_));
  ASSERT_EQ(S_OK, reg());
  char resolved[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath(path.c_str(), resolved));
  ExpectRegistered(platform_.Reg(), resolved);

  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, get_class(&CLSID_ExchangeFilter, &IID_IClassFactory, factory.OutVoid()));
    ComPtr<IObjectConstruct> construct;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IObjectConstruct, construct.OutVoid()));
    auto ctor = ComPtr<FakeConstructString>::Attach(new FakeConstructString(platform_.dir() + "  ;x"));
    EXPECT_EQ(S_OK, construct->Construct(ctor.get()));
    ComPtr<IExchangeFilter> filter = construct.As<IExchangeFilter>(IID_ExchangeFilterDefault);
    ASSERT_TRUE(filter);
    EXPECT_EQ(S_FALSE, can_unload());
    platform_.ticks.now = 42;
    EXPECT_EQ(S_OK, filter->Log("through the loaded library"));
    // The host's services throw; the library's handler must still catch it.
    platform_.SetInsideApplication(false);
    Variant value = Variant::Text("unset");
    EXPECT_EQ(S_OK, filter->GetSharedProp("DebugLevel", &value));
    EXPECT_EQ(Variant::Int16(0), value);
  }
  EXPECT_EQ(S_OK, can_unload());
  const std::string log = platform_.ReadFile(platform_.dir() + "Varnolt.log");
  EXPECT_EQ(0u, log.find("2026-12-07 10:00:00 42 through the loaded library\r\n"));
  EXPECT_NE(std::string::npos, log.find("Err: Get Settings for DebugLevel failed: The shared property manager"));
  EXPECT_EQ(S_OK, unreg());
  EXPECT_EQ("<missing>", RegText(platform_.Reg(), kClasses + "VarnoltFilter.ExchangeFilter\\CLSID"));
  attach(nullptr);
  ::dlclose(library);
}

// The per-thread error information is one slot per process: an error the
// loaded library records reaches the host's ThrowIfFailed with its number and
// description, and the host's ClearErrorInfo clears what the library recorded.
TEST_F(DllEntryTest, AnErrorInsideTheLibraryReachesTheHostWhole) {
  const std::string path = std::string(VARNOLT_BINARY_DIR) + "/libvarnoltfilter.so";
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, library) << ::dlerror();
  auto attach = reinterpret_cast<VarnoltAttachPlatformFunction>(::dlsym(library, "VarnoltAttachPlatform"));
  auto get_class = reinterpret_cast<DllGetClassObjectFunction>(::dlsym(library, "DllGetClassObject"));
  ASSERT_TRUE(attach && get_class);
  ASSERT_EQ(S_OK, attach(&platform_));
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, get_class(&CLSID_ExchangeFilter, &IID_IClassFactory, factory.OutVoid()));
    ComPtr<IObjectConstruct> construct;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IObjectConstruct, construct.OutVoid()));

    const HRESULT hr = construct->Construct(nullptr);
    EXPECT_EQ(E_POINTER, hr);
    try {
      ThrowIfFailed(hr);
      ADD_FAILURE() << "a failed status was not thrown";
    } catch (const ComError& e) {
      EXPECT_EQ(E_POINTER, e.number());
      EXPECT_EQ("No construction object was given", e.description());
    }

    EXPECT_EQ(E_POINTER, construct->Construct(nullptr));
    ClearErrorInfo();
    try {
      ThrowIfFailed(E_POINTER);
      ADD_FAILURE() << "a failed status was not thrown";
    } catch (const ComError& e) {
      EXPECT_EQ("Automation error", e.description());
    }
  }
  attach(nullptr);
  ::dlclose(library);
}

}  // namespace
}  // namespace varnolt
