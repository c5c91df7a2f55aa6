// The mailbox store's own cost: delivering a 5 KB message with a sink that
// does nothing, and opening a record to read five properties. Each runs on
// the in-memory store (our code) and on a store file (what a user waits for).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "backends/mailstore/mail_store.h"
#include "store/property_names.h"

namespace varnolt {
namespace {

class NoOpSink final : public IExStoreSyncEvents {
 public:
  HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
  uint32_t AddRef() override { return 1; }
  uint32_t Release() override { return 1; }
  HRESULT OnSyncSave(IUnknown*, const std::string&, int32_t) override { return S_OK; }
  HRESULT OnSyncDelete(IUnknown*, const std::string&, int32_t) override { return S_OK; }
};

// A plain message of about 5 KB.
std::string FiveKilobyteMessage() {
  std::string message =
      "Received: from mail.example.org (mail.example.org [192.0.2.1])\r\n\tby mx.example.com; Mon, 7 Dec 2026\r\n"
      "From: Bob Sender <bob@example.org>\r\nTo: Alice <alice@example.com>\r\nSubject: Quarterly figures\r\n"
      "Date: Mon, 07 Dec 2026 09:00:00 +0000\r\nMessage-ID: <bench@example.org>\r\nMIME-Version: 1.0\r\n"
      "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
  while (message.size() < 5 * 1024) message += "The figures for the quarter are attached below, see you soon.\r\n";
  return message;
}

// A store in memory or in a fresh file, with one mailbox.
class BenchStore {
 public:
  explicit BenchStore(bool in_file) {
    if (in_file) {
      dir_ = std::filesystem::temp_directory_path() / ("store-bench-" + std::to_string(::getpid()));
      std::filesystem::create_directories(dir_);
    }
    store_ = MailStore::Open(in_file ? (dir_ / "store.db").string() : ":memory:");
    store_->AddMailbox("example.com", "alice");
  }
  ~BenchStore() {
    store_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  MailStore& store() { return *store_; }
  std::string inbox() const { return MailStore::FolderUrl("example.com", "alice", "Inbox"); }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<MailStore> store_;
};

void BM_Deliver5KB(benchmark::State& state) {
  BenchStore bench(state.range(0) != 0);
  NoOpSink sink;
  bench.store().RegisterSyncSink(ComPtr<IExStoreSyncEvents>::Share(&sink));
  const std::string message = FiveKilobyteMessage();
  DeliveryOptions options;
  int n = 0;
  for (auto _ : state) {
    options.item_name = "m" + std::to_string(++n) + ".EML";  // no collision search: the steady cost
    benchmark::DoNotOptimize(bench.store().Deliver(bench.inbox(), message, options));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(message.size()));
}
BENCHMARK(BM_Deliver5KB)->ArgName("file")->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_OpenRecordReadFiveProperties(benchmark::State& state) {
  BenchStore bench(state.range(0) != 0);
  const std::string url = bench.store().Deliver(bench.inbox(), FiveKilobyteMessage());
  auto connection = bench.store().Connect();
  const std::string names[] = {kContentClassField, kFromField, MapiField("x0C1E001E"), MapiField("x007D001E"),
                               MapiField("x1000001E")};
  for (auto _ : state) {
    auto record = connection->CreateRecord();
    record->Open(url, *connection, ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists,
                 RecordOpenOptions::kDelayFetchAll);
    for (const std::string& name : names) benchmark::DoNotOptimize(record->GetFields().Item(name)->Value());
    record->Close();
  }
}
BENCHMARK(BM_OpenRecordReadFiveProperties)->ArgName("file")->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace varnolt
