// A Platform for tests: real files in a fresh temporary folder, a registry hive
// in that folder, component services of its own (so tests never share
// settings), and a tick count, clock, event log and engine factory the test controls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/save_verdict.h"
#include "platform/spam_engine.h"

namespace varnolt::testing {

class FakeTicks : public TickSource {
 public:
  // Returns now, then advances it by step (wrapping like the real count).
  uint32_t GetTickCount() override {
    const uint32_t t = now;
    now += step;
    return t;
  }
  uint32_t now = 1000;
  uint32_t step = 0;
};

class FakeClock : public Clock {
 public:
  std::string LocalDateTimeText() override { return text; }
  std::string text = "2026-12-07 10:00:00";
};

class RecordingEventLog : public EventLog {
 public:
  struct Entry {
    std::string server;
    std::string source;
    uint16_t type = 0;
    uint16_t category = 0;
    uint32_t event_id = 0;
    std::vector<std::string> strings;
    std::vector<uint8_t> data;
  };
  EventSourceHandle RegisterEventSource(const std::string& server, const std::string& source) override;
  bool ReportEvent(EventSourceHandle handle, uint16_t type, uint16_t category, uint32_t event_id,
                   const std::vector<std::string>& strings, const std::vector<uint8_t>& data) override;
  bool DeregisterEventSource(EventSourceHandle handle) override;

  std::vector<Entry> entries;
  int open_sources = 0;  // registered and not yet deregistered

 private:
  std::vector<std::pair<std::string, std::string>> sources_;  // index = handle - 1
};

class FakePlatform : public Platform {
 public:
  FakePlatform();   // creates the temporary folder; inside the application by default
  ~FakePlatform() override;  // removes the folder with everything in it

  TickSource& Ticks() override { return ticks; }
  Clock& LocalClock() override { return clock; }
  TextFiles& Files() override;
  Registry& Reg() override;
  ComponentServices& Services() override;
  EventLog& Events() override { return events; }
  std::unique_ptr<SpamEngine> CreateSpamEngine() override;
  void TakeVerdict(const SaveVerdict& verdict) override { verdicts.push_back(verdict); }

  // The temporary folder, ending in "/".
  const std::string& dir() const { return dir_; }
  // The registry hive file inside dir().
  std::string hive_path() const { return dir_ + "registry.reg"; }
  // Whether creating the shared property manager succeeds.
  void SetInsideApplication(bool inside);

  // Registry helpers on HKEY_LOCAL_MACHINE\Software\Varnolt.
  void SetSettingDword(const std::string& name, uint32_t value);
  void SetSettingText(const std::string& name, const std::string& value);
  void SetSettingOfType(const std::string& name, uint32_t type, const std::vector<uint8_t>& data);
  void RemoveSetting(const std::string& name);

  // Whole-file helpers on real paths (no "\" mapping).
  std::string ReadFile(const std::string& path) const;
  void WriteFile(const std::string& path, const std::string& bytes) const;
  bool Exists(const std::string& path) const;

  FakeTicks ticks;
  FakeClock clock;
  RecordingEventLog events;
  // Makes the event's engine; when unset CreateSpamEngine throws ComError.
  std::function<std::unique_ptr<SpamEngine>()> engine_factory;
  int engines_created = 0;
  // Every verdict the filter handed over, in order.
  std::vector<SaveVerdict> verdicts;

 private:
  struct Impl;
  std::string dir_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnolt::testing
