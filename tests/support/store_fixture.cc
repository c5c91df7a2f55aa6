#include "support/store_fixture.h"

#include "backends/mailstore/store_names.h"
#include "platform/com/com_error.h"

namespace varnolt::testing {

HRESULT ScriptedSink::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IExStoreSyncEvents) {
    *out = static_cast<IExStoreSyncEvents*>(this);
  } else if (iid == IID_IExStoreSystemEvents) {
    *out = static_cast<IExStoreSystemEvents*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT ScriptedSink::OnSyncSave(IUnknown* pEventInfo, const std::string& bstrURLItem, int32_t lFlags) {
  saves.push_back({bstrURLItem, lFlags});
  if (!on_save) return S_OK;
  ComPtr<IExStoreDispEventInfo> info;
  const HRESULT hr = pEventInfo->QueryInterface(IID_IExStoreDispEventInfo, info.OutVoid());
  if (Failed(hr)) return hr;
  return on_save(*info, bstrURLItem, lFlags);
}

HRESULT ScriptedSink::OnMDBStartup(const std::string& guid, const std::string& name, int32_t) {
  system_events.push_back("startup " + guid + " " + name);
  return S_OK;
}

HRESULT ScriptedSink::OnMDBShutdown(const std::string& guid, int32_t) {
  system_events.push_back("shutdown " + guid);
  return S_OK;
}

HRESULT ScriptedSink::OnTimer(const std::string& url, int32_t) {
  system_events.push_back("timer " + url);
  return S_OK;
}

StoreTest::StoreTest() : store_(MailStore::Open(":memory:")), connection_(store_->Connect()) {
  store_->AddMailbox(kDomain, kUser);
}

void StoreTest::TearDown() {
  for (const std::string& line : filter_.ErrorLines()) {
    bool expected = false;
    for (const std::string& prefix : expected_errors_) expected = expected || line.rfind("Err: " + prefix, 0) == 0;
    EXPECT_TRUE(expected) << "unexpected error report: " << line;
  }
}

std::string StoreTest::Url(const std::string& path) { return MailStore::FolderUrl(kDomain, kUser, path); }

std::string StoreTest::Deliver(const std::string& bytes, const std::string& folder, const DeliveryOptions& options) {
  return store_->Deliver(Url(folder), bytes, options);
}

std::unique_ptr<Record> StoreTest::OpenRecord(const std::string& url, ConnectMode mode) {
  std::unique_ptr<Record> record = connection_->CreateRecord();
  record->Open(url, *connection_, mode, RecordCreateOptions::kFailIfNotExists, RecordOpenOptions::kDelayFetchAll);
  return record;
}

Variant StoreTest::Prop(const std::string& url, const std::string& name) {
  for (const auto& [key, value] : store_->Describe(url).properties) {
    if (mailstore::LowerKey(key) == mailstore::LowerKey(name)) return value;
  }
  return Variant();
}

bool StoreTest::HasProp(const std::string& url, const std::string& name) {
  for (const auto& [key, value] : store_->Describe(url).properties) {
    if (mailstore::LowerKey(key) == mailstore::LowerKey(name)) return true;
  }
  return false;
}

std::vector<std::string> StoreTest::ItemNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const ItemSummary& item : store_->ListItems(Url(folder))) names.push_back(item.name);
  return names;
}

void StoreTest::UseSink() {
  store_->RegisterSyncSink(ComPtr<IExStoreSyncEvents>::Share(&sink_));
  store_->RegisterSystemSink(ComPtr<IExStoreSystemEvents>::Share(&sink_));
}

}  // namespace varnolt::testing
