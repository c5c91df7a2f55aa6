#include "hosting/filter_host.h"

#include "backends/complus/in_process_services.h"
#include "hosting/command_error.h"
#include "hosting/registry_values.h"

namespace varnolt::hosting {
namespace {

// The construction object component services hand to Construct: it holds the
// constructor string exactly as the administrator entered it.
class ConstructionString final : public RefCounted<IObjectConstructString> {
 public:
  explicit ConstructionString(std::string text) : text_(std::move(text)) {}

  HRESULT QueryInterface(const IID& iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IObjectConstructString) {
      AddRef();
      *out = static_cast<IObjectConstructString*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

  HRESULT get_ConstructString(std::string* value) override {
    if (!value) return E_POINTER;
    *value = text_;
    return S_OK;
  }

 private:
  std::string text_;
};

// The default value of a key below HKEY_CLASSES_ROOT, as text.
std::string ClassesDefault(Registry& registry, const std::string& subkey) {
  const auto value = QueryValue(registry, HKEY_CLASSES_ROOT, subkey, "");
  if (!value || value->type != REG_SZ || DisplayText(*value).empty()) {
    throw CommandError(std::string("the filter is not registered: HKEY_CLASSES_ROOT\\") + subkey + " has no value (" +
                       kRepairAdvice + ")");
  }
  return DisplayText(*value);
}

}  // namespace

void RegisterFilter(Platform& platform, const std::string& library_path) {
  auto library = FilterLibrary::Load(library_path);
  library->AttachPlatform(platform);
  library->RegisterServer();
}

LoadedFilter CreateRegisteredFilter(Platform& platform) {
  Registry& registry = platform.Reg();
  const std::string clsid_text = ClassesDefault(registry, std::string(kProgId) + "\\CLSID");
  const auto clsid = Guid::Parse(clsid_text);
  if (!clsid) throw CommandError("the registered class identifier '" + clsid_text + "' is not a GUID");
  const std::string path = ClassesDefault(registry, "CLSID\\" + clsid->ToString() + "\\InprocServer32");

  LoadedFilter filter;
  filter.library = FilterLibrary::Load(path);
  filter.library->AttachPlatform(platform);
  ComPtr<IClassFactory> factory = filter.library->GetClassObject(*clsid);
  ComPtr<IUnknown> object;
  if (const HRESULT hr = factory->CreateInstance(nullptr, IID_IUnknown, object.OutVoid()); Failed(hr) || !object) {
    throw CommandError("the filter class " + clsid_text + " could not be created (" + StatusText(hr) + ")");
  }

  const auto stored = QueryValue(registry, HKEY_LOCAL_MACHINE, kHostKey, kConstructorStringValue);
  auto construct = object.As<IObjectConstruct>(IID_IObjectConstruct);
  if (!construct) throw CommandError("the filter object does not offer IObjectConstruct");
  ComPtr<IObjectConstructString> ctor_object =
      ComPtr<IObjectConstructString>::Attach(new ConstructionString(stored ? DisplayText(*stored) : ""));
  if (const HRESULT hr = construct->Construct(ctor_object.get()); Failed(hr)) {
    throw CommandError("the filter could not be constructed (" + StatusText(hr) + ")");
  }

  MarkInsideApplication();
  filter.sync_events = object.As<IExStoreSyncEvents>(IID_IExStoreSyncEvents);
  filter.system_events = object.As<IExStoreSystemEvents>(IID_IExStoreSystemEvents);
  if (!filter.sync_events || !filter.system_events) {
    throw CommandError("the filter object does not offer the store's event interfaces");
  }
  return filter;
}

}  // namespace varnolt::hosting
