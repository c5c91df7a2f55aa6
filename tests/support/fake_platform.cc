#include "support/fake_platform.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "backends/complus/in_process_services.h"
#include "backends/registry/hive_registry.h"
#include "backends/system/posix_text_files.h"
#include "config/settings.h"
#include "platform/com/com_error.h"

namespace varnolt::testing {

EventSourceHandle RecordingEventLog::RegisterEventSource(const std::string& server, const std::string& source) {
  sources_.emplace_back(server, source);
  ++open_sources;
  return sources_.size();
}

bool RecordingEventLog::ReportEvent(EventSourceHandle handle, uint16_t type, uint16_t category, uint32_t event_id,
                                    const std::vector<std::string>& strings, const std::vector<uint8_t>& data) {
  if (handle == 0 || handle > sources_.size()) return false;
  const auto& [server, source] = sources_[handle - 1];
  entries.push_back(Entry{server, source, type, category, event_id, strings, data});
  return true;
}

bool RecordingEventLog::DeregisterEventSource(EventSourceHandle handle) {
  if (handle == 0 || handle > sources_.size()) return false;
  --open_sources;
  return true;
}

struct FakePlatform::Impl {
  explicit Impl(const std::string& hive) : registry(hive) {}
  PosixTextFiles files;
  HiveRegistry registry;
  InProcessComponentServices services;
};

namespace {

std::string MakeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/varnolt-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
  return pattern + "/";
}

void CheckStatus(int32_t status, const char* what) {
  if (status != ERROR_SUCCESS) throw std::runtime_error(std::string(what) + " failed with " + std::to_string(status));
}

}  // namespace

FakePlatform::FakePlatform() : dir_(MakeTempDir()), impl_(std::make_unique<Impl>(dir_ + "registry.reg")) {
  impl_->services.SetInsideApplication(true);
}

FakePlatform::~FakePlatform() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

TextFiles& FakePlatform::Files() { return impl_->files; }
Registry& FakePlatform::Reg() { return impl_->registry; }
ComponentServices& FakePlatform::Services() { return impl_->services; }

std::unique_ptr<SpamEngine> FakePlatform::CreateSpamEngine() {
  if (!engine_factory) throw ComError(E_FAIL, "No spam engine is configured.");
  ++engines_created;
  return engine_factory();
}

void FakePlatform::SetInsideApplication(bool inside) { impl_->services.SetInsideApplication(inside); }

void FakePlatform::SetSettingOfType(const std::string& name, uint32_t type, const std::vector<uint8_t>& data) {
  HKEY key = 0;
  CheckStatus(impl_->registry.RegCreateKeyEx(HKEY_LOCAL_MACHINE, kSettingsKey, KEY_ALL_ACCESS, &key), "RegCreateKeyEx");
  const int32_t status =
      impl_->registry.RegSetValueEx(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
  impl_->registry.RegCloseKey(key);
  CheckStatus(status, "RegSetValueEx");
}

void FakePlatform::SetSettingDword(const std::string& name, uint32_t value) {
  std::vector<uint8_t> data(4);
  for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(value >> (8 * i));
  SetSettingOfType(name, REG_DWORD, data);
}

void FakePlatform::SetSettingText(const std::string& name, const std::string& value) {
  std::vector<uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  SetSettingOfType(name, REG_SZ, data);
}

void FakePlatform::RemoveSetting(const std::string& name) {
  HKEY key = 0;
  if (impl_->registry.RegOpenKeyEx(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  impl_->registry.RegDeleteValue(key, name);
  impl_->registry.RegCloseKey(key);
}

std::string FakePlatform::ReadFile(const std::string& path) const {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void FakePlatform::WriteFile(const std::string& path, const std::string& bytes) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool FakePlatform::Exists(const std::string& path) const {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

}  // namespace varnolt::testing
