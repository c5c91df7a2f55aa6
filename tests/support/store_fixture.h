// Fixture for the store and the mailbox operations: an in-memory store with
// the mailbox alice@example.com, a connection on it, a recording filter and a
// tick count. Any Log_Err report a test did not announce with ExpectErr
// fails the test.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "backends/mailstore/mail_store.h"
#include "support/fake_platform.h"
#include "support/recording_filter.h"

namespace varnolt {

// Readable values in test failures: Int32(2), Text("abc")...
inline void PrintTo(const Variant& value, std::ostream* out) {
  switch (value.kind()) {
    case Variant::Kind::kEmpty: *out << "Empty"; return;
    case Variant::Kind::kInt16: *out << "Int16(" << value.AsNumber() << ")"; return;
    case Variant::Kind::kInt32: *out << "Int32(" << value.AsNumber() << ")"; return;
    case Variant::Kind::kBool: *out << "Bool(" << (value.AsBool() ? "true" : "false") << ")"; return;
    case Variant::Kind::kText: *out << "Text(\"" << value.AsText() << "\")"; return;
  }
}

}  // namespace varnolt

namespace varnolt::testing {

// A sink that records the events it gets and runs a test's handler on save events.
class ScriptedSink final : public IExStoreSyncEvents, public IExStoreSystemEvents {
 public:
  struct SaveEvent {
    std::string url;
    int32_t flags;
  };
  using SaveHandler = std::function<HRESULT(IExStoreDispEventInfo& info, const std::string& url, int32_t flags)>;

  HRESULT QueryInterface(const IID& iid, void** out) override;
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override { return --refs_; }

  HRESULT OnSyncSave(IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags) override;
  HRESULT OnSyncDelete(IUnknown*, const std::string&, int32_t) override { return S_OK; }
  HRESULT OnMDBStartup(const std::string& guid, const std::string& name, int32_t flags) override;
  HRESULT OnMDBShutdown(const std::string& guid, int32_t flags) override;
  HRESULT OnTimer(const std::string& url, int32_t flags) override;

  SaveHandler on_save;  // runs inside the event when set
  std::vector<SaveEvent> saves;
  std::vector<std::string> system_events;  // "startup <guid> <name>", "shutdown <guid>", "timer <url>"

 private:
  uint32_t refs_ = 1;
};

class StoreTest : public ::testing::Test {
 protected:
  static constexpr const char* kDomain = "example.com";
  static constexpr const char* kUser = "alice";

  StoreTest();
  void TearDown() override;

  // The URL of a folder or item below the mailbox ("Inbox", "Inbox/Hello.EML").
  static std::string Url(const std::string& path);
  std::string Deliver(const std::string& bytes, const std::string& folder = "Inbox",
                      const DeliveryOptions& options = {});
  std::unique_ptr<Record> OpenRecord(const std::string& url, ConnectMode mode = ConnectMode::kReadWrite);
  // The property as Describe shows it (name case ignored); the empty value when missing.
  Variant Prop(const std::string& url, const std::string& name);
  bool HasProp(const std::string& url, const std::string& name);
  std::vector<std::string> ItemNames(const std::string& folder);
  void ExpectErr(const std::string& prefix) { expected_errors_.push_back(prefix); }
  // Registers sink_ for save and system events.
  void UseSink();

  // Declared before the store, which holds references to it until it goes.
  ScriptedSink sink_;
  std::unique_ptr<MailStore> store_;
  std::shared_ptr<Connection> connection_;
  RecordingFilter filter_;
  FakeTicks ticks_;

 private:
  std::vector<std::string> expected_errors_;
};

}  // namespace varnolt::testing
