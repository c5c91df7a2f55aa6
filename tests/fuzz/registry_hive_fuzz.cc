// The registry hive reader: a .reg file as an administrator may have edited
// it (UTF-8, or UTF-16LE with its byte-order mark as regedit writes it), read
// through the registry as the settings module reads it, then changed as the
// command changes it.
#include <string>

#include "backends/registry/hive_document.h"
#include "backends/registry/hive_file.h"
#include "backends/registry/hive_registry.h"
#include "fuzz/fuzz_support.h"

using namespace varnolt;

namespace {

// Reads one value the way the settings module does: its size first, then its data.
void QueryValue(HiveRegistry& registry, HKEY key, const std::string& name) {
  uint32_t type = 0, size = 0;
  if (registry.RegQueryValueEx(key, name, &type, nullptr, &size) != ERROR_SUCCESS) return;
  std::vector<uint8_t> data(size);
  registry.RegQueryValueEx(key, name, &type, data.data(), &size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::ScratchFolder() + "/registry.reg";
  fuzz::WriteScratchFile(path, fuzz::AsText(data, size));

  HiveDocument doc;
  if (HiveFile(path).Read(&doc) != ERROR_SUCCESS) return 0;
  // What is written back reads as the same document.
  const std::string text = doc.Serialize();
  if (HiveDocument::Parse(text).Serialize() != text) __builtin_trap();
  doc.Values("HKEY_LOCAL_MACHINE\\Software\\Varnolt");

  HiveRegistry registry(path);
  HKEY key = 0;
  if (registry.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Varnolt", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    for (const char* name : {"DebugLevel", "HideSpam", "UseJunkMailFolder", "UseWhiteList", "", "ConstructorString"}) {
      QueryValue(registry, key, name);
    }
    registry.RegCloseKey(key);
  }
  // A change keeps the file readable, in the encoding it had.
  if (registry.RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Varnolt", KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    const uint32_t value = 1;
    registry.RegSetValueEx(key, "DebugLevel", REG_DWORD, reinterpret_cast<const uint8_t*>(&value), sizeof value);
    registry.RegCloseKey(key);
    HiveDocument again;
    if (HiveFile(path).Read(&again) != ERROR_SUCCESS) __builtin_trap();
  }
  return 0;
}
