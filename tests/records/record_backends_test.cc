// One suite for both Record backends the filter runs on: the SQLite mail
// store's and the Dovecot plugin's (over an in-memory Dovecot user). What
// the filter relies on must hold for each alike.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>

#include "backends/mailstore/mail_store.h"
#include "backends/mailstore/store_errors.h"
#include "dovecot/fake_mail_access.h"
#include "dovecot/plugin_records.h"
#include "platform/com/com_error.h"
#include "store/mail_marker.h"
#include "store/property_names.h"
#include "support/recording_filter.h"

namespace varnolt {
namespace {

using ::testing::IsEmpty;

constexpr const char* kRoot = "file://./backofficestorage/example.com/MBX/alice";
const std::string kHidden = MapiField("x67aa000b");
const std::string kMessage = "From: Sender <sender@example.net>\r\nSubject: Hello\r\n\r\nHi there\r\n";

// The SQLite mail store with one provisioned mailbox.
class MailStoreBackend {
 public:
  MailStoreBackend() : store_(MailStore::Open(":memory:")), connection_(store_->Connect()) {
    store_->AddMailbox("example.com", "alice");
  }
  Connection& connection() { return *connection_; }
  // Delivers the message into the folder ("Inbox", "Junk E-Mail"); its URL.
  std::string Deliver(const std::string& folder) {
    return store_->Deliver(MailStore::FolderUrl("example.com", "alice", folder), kMessage);
  }

 private:
  std::unique_ptr<MailStore> store_;
  std::shared_ptr<Connection> connection_;
};

// The plugin's records over a Dovecot user with the same folders.
class PluginBackend {
 public:
  PluginBackend() {
    for (const char* name : {"Inbox", "Junk E-Mail", "Drafts"}) access_.CreateMailbox(name);
  }
  Connection& connection() { return connection_; }
  std::string Deliver(const std::string& folder) {
    const uint32_t uid = access_.SaveMessage(folder, kMessage, {});
    return std::string(kRoot) + "/" + folder + "/" + std::to_string(uid) + ".EML";
  }

 private:
  dovecot::testing::FakeMailAccess access_;
  dovecot::PluginConnection connection_{access_, dovecot::MailboxUrls("example.com", "alice", '/')};
};

template <typename Backend>
class RecordBackendTest : public ::testing::Test {
 protected:
  static std::string Url(const std::string& path) { return std::string(kRoot) + "/" + path; }

  // Opens a fresh record in one of the forms; the store's error number, 0 on success.
  int32_t OpenAs(const std::string& url, ConnectMode mode, RecordCreateOptions create,
                 std::unique_ptr<Record>* out = nullptr) {
    auto record = backend_.connection().CreateRecord();
    try {
      record->Open(url, backend_.connection(), mode, create, RecordOpenOptions::kUnspecified);
    } catch (const ComError& error) {
      return error.number();
    }
    if (out) *out = std::move(record);
    return 0;
  }
  std::unique_ptr<Record> OpenExisting(const std::string& url) {
    std::unique_ptr<Record> record;
    EXPECT_EQ(0, OpenAs(url, ConnectMode::kReadWrite, RecordCreateOptions::kFailIfNotExists, &record));
    return record;
  }

  Backend backend_;
  testing::RecordingFilter filter_;
};

using Backends = ::testing::Types<MailStoreBackend, PluginBackend>;
class BackendNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, MailStoreBackend> ? "MailStore" : "Plugin";
  }
};
TYPED_TEST_SUITE(RecordBackendTest, Backends, BackendNames);

TYPED_TEST(RecordBackendTest, OpenFormsKeepTheirPromises) {
  const std::string item = this->backend_.Deliver("Inbox");
  struct Case {
    const char* what;
    std::string url;
    ConnectMode mode;
    RecordCreateOptions create;
    int32_t error;
  };
  const Case cases[] = {
      {"existing item", item, ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists, 0},
      {"existing folder", this->Url("Inbox"), ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists, 0},
      {"missing item", this->Url("Inbox/9.EML"), ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists,
       kStoreNotFound},
      {"new folder", this->Url("Spambox"), ConnectMode::kReadWrite, RecordCreateOptions::kCreateCollection, 0},
      {"folder exists", this->Url("Spambox"), ConnectMode::kReadWrite, RecordCreateOptions::kCreateCollection,
       kStoreAlreadyExists},
      {"new item", this->Url("Inbox/New.EML"), ConnectMode::kReadWrite, RecordCreateOptions::kCreateOverwrite, 0},
      {"item without its folder", this->Url("Nowhere/x.EML"), ConnectMode::kReadWrite,
       RecordCreateOptions::kCreateOverwrite, kStoreParentNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.error, this->OpenAs(c.url, c.mode, c.create));
  }
}

TYPED_TEST(RecordBackendTest, AStoredMessageShowsItsFieldsAndPlace) {
  const std::string item = this->backend_.Deliver("Inbox");
  auto record = this->OpenExisting(item);
  ASSERT_NE(nullptr, record);
  Fields& fields = record->GetFields();
  EXPECT_EQ("Sender <sender@example.net>", fields.Item(kFromField)->Value().ToText());
  EXPECT_EQ(this->Url("Inbox"), fields.Item("DAV:parentname")->Value().ToText());
  EXPECT_EQ(kFieldDoesNotExist, fields.Item("urn:schemas:mailheader:cc")->Status());
  EXPECT_EQ(item, record->Source());
  EXPECT_EQ(this->Url("Inbox"), record->ParentURL());
}

TYPED_TEST(RecordBackendTest, TheMarkerAndHidingAreReadBackAsWritten) {
  const std::string item = this->backend_.Deliver("Inbox");
  EXPECT_EQ(kMarkerNone, GetMailMarker(this->filter_, *this->OpenExisting(item)));
  for (const int32_t marker : {kMarkerSpam, kMarkerHam}) {
    SCOPED_TRACE(marker);
    auto record = this->OpenExisting(item);
    EXPECT_TRUE(SetMailMarker(this->filter_, *record, marker));
    record->GetFields().Item(kHidden)->SetValue(Variant::Bool(marker == kMarkerSpam));
    record->GetFields().Update();
    auto again = this->OpenExisting(item);
    EXPECT_EQ(marker, GetMailMarker(this->filter_, *again));
    // Not hidden: false, or (the plugin's keyword gone) no such field.
    auto hidden = again->GetFields().Item(kHidden);
    EXPECT_EQ(marker == kMarkerSpam, hidden->Status() != kFieldDoesNotExist && hidden->Value() == Variant::Bool(true));
  }
  EXPECT_THAT(this->filter_.ErrorLines(), IsEmpty());
}

TYPED_TEST(RecordBackendTest, AMoveLandsInTheFolderOrFailsWithoutOne) {
  const std::string item = this->backend_.Deliver("Inbox");
  auto record = this->OpenExisting(item);
  auto move = [&](const std::string& destination) -> int32_t {
    try {
      record->MoveRecord(record->Source(), destination, "", "", MoveRecordOptions::kUnspecified, false);
    } catch (const ComError& error) {
      return error.number();
    }
    return 0;
  };
  EXPECT_EQ(kStoreParentNotFound, move(this->Url("Nowhere/x.EML")));
  EXPECT_EQ(item, record->Source());
  EXPECT_EQ(0, move(this->Url("Junk E-Mail/x.EML")));
  EXPECT_EQ(this->Url("Junk E-Mail"), record->ParentURL());
  EXPECT_EQ(kMarkerNone, GetMailMarker(this->filter_, *this->OpenExisting(record->Source())));
}

}  // namespace
}  // namespace varnolt
