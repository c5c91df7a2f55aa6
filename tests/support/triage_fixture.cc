#include "support/triage_fixture.h"

#include <algorithm>
#include <filesystem>

#include "platform/com/com_error.h"
#include "store/mail_marker.h"
#include "store/property_names.h"
#include "support/message_builder.h"

namespace varnolt::testing {
namespace {

class ConstructString final : public RefCounted<IObjectConstructString> {
 public:
  explicit ConstructString(std::string text) : text_(std::move(text)) {}
  HRESULT QueryInterface(const IID& iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IObjectConstructString) {
      AddRef();
      *out = static_cast<IObjectConstructString*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT get_ConstructString(std::string* value) override {
    *value = text_;
    return S_OK;
  }

 private:
  std::string text_;
};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::string MessageSpec::Bytes() const {
  MessageBuilder builder;
  builder.From(from).Subject(subject);
  if (html.empty()) return builder.Body(body).Build();
  MimePart plain_part;
  plain_part.body = body;
  MimePart html_part;
  html_part.content_type = "text/html; charset=us-ascii";
  html_part.body = html;
  return builder.Multipart("alternative").AddPart(plain_part).AddPart(html_part).Build();
}

TriageTest::TriageTest() {
  std::filesystem::create_directories(platform_.dir() + "data");
  data_folder_ = platform_.dir() + "data\\";
  WriteDataFile("vnusrmnl.sys", kManualText);
  SetDword("DebugLevel", 1);
  SetDword("HideSpam", 0);
  SetDword("ProviderMode", 0);
  SetText("UseJunkMailFolder", "Junk E-Mail");
  SetDword("UseWhiteList", 0);  // on, every outside sender needs a whitelist file
  SetDword("AutoWhiteList", 1);
  engine_->files = &platform_.Files();
  platform_.engine_factory = ScriptedEngineFactory(engine_);

  filter_ = new ExchangeFilter(platform_);
  ComPtr<ConstructString> ctor = ComPtr<ConstructString>::Attach(new ConstructString(platform_.dir() + "data"));
  EXPECT_EQ(S_OK, filter_->Construct(ctor.get()));
  store_ = MailStore::Open(":memory:");
  store_->AddMailbox(kDomain, kUser);
  connection_ = store_->Connect();
  store_->RegisterSyncSink(ComPtr<IExStoreSyncEvents>::Share(filter_));
}

TriageTest::~TriageTest() {
  connection_.reset();
  store_.reset();
  filter_->Release();
}

void TriageTest::TearDown() {
  for (const std::string& line : ErrorLines()) {
    bool expected = false;
    for (const std::string& prefix : expected_errors_) expected = expected || StartsWith(line, "Err: " + prefix);
    EXPECT_TRUE(expected) << "unexpected error line: " << line;
  }
}

std::string TriageTest::FolderUrl(const std::string& path) const {
  return MailStore::FolderUrl(kDomain, kUser, path);
}

std::string TriageTest::AddFolder(const std::string& path) { return store_->AddFolder(FolderUrl(path)); }

bool TriageTest::FolderExists(const std::string& path) {
  try {
    return store_->Describe(FolderUrl(path)).is_folder;
  } catch (const ComError&) {
    return false;
  }
}

std::string TriageTest::Deliver(const MessageSpec& message, const std::string& folder) {
  DeliveryOptions options;
  options.internal = message.internal;
  options.item_name = message.name;
  return store_->Deliver(FolderUrl(folder), message.Bytes(), options);
}

std::string TriageTest::Place(const MessageSpec& message, const std::string& folder, std::optional<int32_t> marker) {
  store_->RegisterSyncSink(nullptr);
  const std::string url = Deliver(message, folder);
  store_->RegisterSyncSink(ComPtr<IExStoreSyncEvents>::Share(filter_));
  if (marker) {
    std::unique_ptr<Record> record = OpenRecord(url);
    record->GetFields().Item(kMailMarkerField)->SetValue(Variant::Int32(*marker));
    record->GetFields().Update();
    record->Close();
  }
  return url;
}

std::string TriageTest::Move(const std::string& item_url, const std::string& folder) {
  return store_->MoveItem(item_url, FolderUrl(folder));
}

std::unique_ptr<Record> TriageTest::OpenRecord(const std::string& url) {
  std::unique_ptr<Record> record = connection_->CreateRecord();
  record->Open(url, *connection_, ConnectMode::kReadWrite, RecordCreateOptions::kFailIfNotExists,
               RecordOpenOptions::kUnspecified);
  return record;
}

HRESULT TriageTest::RaiseDirect(const std::string& record_url, const std::string& event_url, int32_t flags) {
  std::shared_ptr<Record> record = OpenRecord(record_url);
  ComPtr<EventInfo> info = ComPtr<EventInfo>::Attach(new EventInfo(connection_, record));
  return filter_->OnSyncSave(info.get(), event_url, flags);
}

Variant TriageTest::Property(const std::string& url, const std::string& name) {
  for (const auto& [key, value] : store_->Describe(url).properties) {
    if (key == name) return value;
  }
  return Variant();
}

std::optional<int32_t> TriageTest::Marker(const std::string& url) {
  const Variant value = Property(url, kMailMarkerField);
  if (value.IsEmpty()) return std::nullopt;
  return value.ToInt32();
}

bool TriageTest::Hidden(const std::string& url) {
  const Variant value = Property(url, MapiField("x67aa000b"));
  return value.kind() == Variant::Kind::kBool && value.AsBool();
}

std::vector<std::string> TriageTest::Items(const std::string& folder) {
  std::vector<std::string> names;
  for (const ItemSummary& item : store_->ListItems(FolderUrl(folder))) names.push_back(item.name);
  return names;
}

std::string TriageTest::DataFile(const std::string& relative) const { return platform_.dir() + "data/" + relative; }

std::string TriageTest::UserFile(const std::string& suffix) const {
  return std::string(kDomain) + "/" + kUser + suffix;
}

std::string TriageTest::ReadDataFile(const std::string& relative) const {
  return platform_.ReadFile(DataFile(relative));
}

void TriageTest::WriteDataFile(const std::string& relative, const std::string& bytes) const {
  const std::filesystem::path path(DataFile(relative));
  std::filesystem::create_directories(path.parent_path());
  platform_.WriteFile(path.string(), bytes);
}

bool TriageTest::DataFileExists(const std::string& relative) const { return platform_.Exists(DataFile(relative)); }

std::string TriageTest::DatPath() const { return data_folder_ + kDomain + "\\" + kUser + ".dat"; }

void TriageTest::MakeDomainDir() const { std::filesystem::create_directories(DataFile(kDomain)); }

void TriageTest::MakeKnownUser() const {
  MakeDomainDir();
  WriteDataFile(UserFile(".dat"), "");
}

std::vector<std::string> TriageTest::DataFolderNames() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(DataFile(""))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> TriageTest::LogMessages() const {
  std::vector<std::string> messages;
  if (!DataFileExists("Varnolt.log")) return messages;
  const std::string text = ReadDataFile("Varnolt.log");
  // A message may hold CR LF itself; a new entry starts with the date-time.
  const std::string entry_start = platform_.clock.text + " ";
  size_t at = 0;
  while (at < text.size()) {
    size_t next = text.find("\r\n" + entry_start, at);
    const size_t end = next == std::string::npos ? text.size() - 2 : next;
    const std::string entry = text.substr(at, end - at);
    const size_t tick_end = entry.find(' ', entry_start.size());
    messages.push_back(entry.substr(tick_end + 1));
    if (next == std::string::npos) break;
    at = next + 2;
  }
  return messages;
}

std::vector<std::string> TriageTest::TriageMessages() const {
  std::vector<std::string> messages;
  for (const std::string& m : LogMessages()) {
    if (!StartsWith(m, "Loading ")) messages.push_back(m);
  }
  return messages;
}

std::string TriageTest::Trace() const {
  std::string last;
  for (const std::string& m : LogMessages()) {
    if (StartsWith(m, "New Mail") || StartsWith(m, "Mail moved by User")) last = m;
  }
  return last;
}

std::vector<std::string> TriageTest::ErrorLines() const {
  std::vector<std::string> lines;
  for (const std::string& m : LogMessages()) {
    if (StartsWith(m, "Err: ")) lines.push_back(m);
  }
  return lines;
}

}  // namespace varnolt::testing
