#include "config/shared_settings.h"

#include <exception>

#include "config/settings.h"
#include "platform/com/com_error.h"

namespace varnolt {
namespace {

// A number 0, the empty text and the empty value are not worth storing.
bool IsEmptyLike(const Variant& value) {
  if (value.IsEmpty()) return true;
  if (value.IsNumber()) return value.AsNumber() == 0;
  if (value.IsText()) return value.AsText().empty();
  return false;
}

void LoadSetting(Reporter& reporter, Platform& platform, int32_t debug_level, const std::string& name,
                 Variant* result) {
  auto manager = platform.Services().CreateSharedPropertyGroupManager();
  int32_t isolation = LockSetGet;
  int32_t release = Process;
  bool group_exists = false;
  auto group = manager->CreatePropertyGroup(kSettingsGroup, &isolation, &release, &group_exists);
  bool exists = false;
  auto property = group->CreateProperty(name, &exists);
  if (exists) {
    *result = property->Value();
    return;
  }
  // No lock spans the load: a second caller meanwhile sees the property
  // unassigned and reads the empty value.
  const Variant value = ReadRegistrySetting(platform.Reg(), name);
  if (debug_level != 0) reporter.LogLine("Loading " + name + "(" + value.ToText() + ") from registry.");
  if (!IsEmptyLike(value)) {
    property->SetValue(value);
    *result = value;
  }
}

}  // namespace

Variant GetSharedSetting(Reporter& reporter, Platform& platform, int32_t debug_level, const std::string& name) {
  Variant result = Variant::Int16(0);
  try {
    LoadSetting(reporter, platform, debug_level, name, &result);
  } catch (const ComError& e) {
    reporter.LogError("Get Settings for " + name + " failed: " + e.description(), e.number(), "");
  } catch (const std::exception& e) {
    reporter.LogError("Get Settings for " + name + " failed: " + e.what(), E_FAIL, "");
  }
  return result;
}

}  // namespace varnolt
