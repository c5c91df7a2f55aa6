// The store access interface on the real store: the three forms of Open,
// fields, staged writes, moves and the content stream.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "backends/mailstore/store_errors.h"
#include "platform/com/com_error.h"
#include "store/property_names.h"
#include "support/message_builder.h"
#include "support/store_fixture.h"

namespace varnolt {
namespace {

using ::testing::ElementsAre;
using testing::MessageBuilder;
using testing::StoreTest;

class RecordTest : public StoreTest {
 protected:
  // Opens a fresh record in one of the forms; returns the store's error number, 0 on success.
  int32_t OpenAs(const std::string& url, ConnectMode mode, RecordCreateOptions create,
                 std::unique_ptr<Record>* out = nullptr) {
    auto record = connection_->CreateRecord();
    try {
      record->Open(url, *connection_, mode, create, RecordOpenOptions::kUnspecified);
    } catch (const ComError& error) {
      return error.number();
    }
    if (out) *out = std::move(record);
    return 0;
  }

  static int32_t ErrorOf(const std::function<void()>& operation) {
    try {
      operation();
    } catch (const ComError& error) {
      return error.number();
    }
    return 0;
  }
};

TEST_F(RecordTest, OpenFormsKeepTheirPromises) {
  const std::string item = Deliver(MessageBuilder().Build());
  struct Case {
    const char* what;
    std::string url;
    ConnectMode mode;
    RecordCreateOptions create;
    int32_t error;
  };
  const Case cases[] = {
      // The forms both backends share are in tests/records; these are the store's own.
      {"letter case ignored", Url("INBOX/hello.eml"), ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists, 0},
      {"trailing slash", Url("Inbox") + "/", ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists,
       kStoreNotFound},
      {"new folder", Url("Spambox"), ConnectMode::kReadWrite, RecordCreateOptions::kCreateCollection, 0},
      {"folder exists, letter case ignored", Url("spambox"), ConnectMode::kReadWrite,
       RecordCreateOptions::kCreateCollection, kStoreAlreadyExists},
      {"folder without parent", Url("No/Such"), ConnectMode::kReadWrite, RecordCreateOptions::kCreateCollection,
       kStoreParentNotFound},
      {"folder below an item", item + "/Sub", ConnectMode::kReadWrite, RecordCreateOptions::kCreateCollection,
       kStoreNotAFolder},
      {"create read-only", Url("Other"), ConnectMode::kRead, RecordCreateOptions::kCreateCollection, kStoreReadOnly},
      {"item over a folder", Url("Inbox"), ConnectMode::kReadWrite, RecordCreateOptions::kCreateOverwrite,
       kStoreAlreadyExists},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.error, OpenAs(c.url, c.mode, c.create));
  }
  EXPECT_EQ(Url("Spambox"), store_->Describe(Url("SPAMBOX")).url);  // reported as created
}

TEST_F(RecordTest, CreateOverwriteReplacesTheItem) {
  const std::string item = Deliver(MessageBuilder().Build());
  std::unique_ptr<Record> record;
  ASSERT_EQ(0, OpenAs(item, ConnectMode::kReadWrite, RecordCreateOptions::kCreateOverwrite, &record));
  EXPECT_EQ("", store_->ReadContent(item));
  EXPECT_FALSE(HasProp(item, "urn:schemas:httpmail:subject"));
  EXPECT_THAT(ItemNames("Inbox"), ElementsAre("Hello.EML"));
}

TEST_F(RecordTest, FieldsShowStatusStageAndCommit) {
  const std::string item = Deliver(MessageBuilder().Build());
  auto writer = OpenRecord(item);
  Fields& fields = writer->GetFields();
  EXPECT_EQ(kFieldDoesNotExist, fields.Item("urn:schemas:mailheader:X-Varnolt")->Status());
  EXPECT_EQ(kStorePropertyMissing, ErrorOf([&] { fields.Item("urn:schemas:mailheader:X-Varnolt")->Value(); }));

  fields.Item("urn:schemas:mailheader:X-Varnolt")->SetValue(Variant::Int32(2));
  fields.Item(MapiField("x67aa000b"))->SetValue(Variant::Bool(true));
  fields.Item(MapiField("x0E070003"))->SetValue(Variant::Int16(2));
  EXPECT_EQ(Variant::Int32(2), fields.Item("URN:SCHEMAS:MAILHEADER:x-varnolt")->Value());  // staged, seen here
  EXPECT_FALSE(HasProp(item, "urn:schemas:mailheader:X-Varnolt"));                        // not yet stored
  fields.Update();
  EXPECT_EQ(Variant::Int32(2), Prop(item, "urn:schemas:mailheader:x-varnolt"));
  EXPECT_EQ(Variant::Bool(true), Prop(item, MapiField("x67aa000b")));
  EXPECT_EQ(Variant::Int16(2), Prop(item, MapiField("x0E070003")));
  EXPECT_TRUE(store_->ListItems(Url("Inbox"))[0].hidden);

  EXPECT_EQ(kStoreBadValueType, ErrorOf([&] { fields.Item("x")->SetValue(Variant()); }));
  EXPECT_EQ(kStorePropertyReadOnly, ErrorOf([&] { fields.Item("DAV:parentname")->SetValue(Variant::Text("x")); }));
  EXPECT_EQ(kStoreInvalidArgument, ErrorOf([&] { fields.Item(3); }));
}

TEST_F(RecordTest, ClosingDropsStagedValuesAndEndsUse) {
  const std::string item = Deliver(MessageBuilder().Build());
  auto record = OpenRecord(item);
  auto field = record->GetFields().Item("urn:schemas:mailheader:X-Varnolt");
  field->SetValue(Variant::Int32(1));
  record->Close();
  EXPECT_EQ(kStoreRecordClosed, ErrorOf([&] { field->Status(); }));
  EXPECT_EQ(kStoreRecordClosed, ErrorOf([&] { record->Source(); }));
  EXPECT_EQ(kStoreRecordClosed, ErrorOf([&] { record->Close(); }));
  EXPECT_FALSE(HasProp(item, "urn:schemas:mailheader:X-Varnolt"));
}

TEST_F(RecordTest, ReadOnlyRecordsRefuseWrites) {
  const std::string item = Deliver(MessageBuilder().Build());
  auto record = OpenRecord(item, ConnectMode::kRead);
  EXPECT_EQ(kStoreReadOnly, ErrorOf([&] { record->GetFields().Item("a")->SetValue(Variant::Int32(1)); }));
  EXPECT_EQ(kStoreReadOnly, ErrorOf([&] {
              record->MoveRecord(item, Url("Drafts/Hello.EML"), "", "", MoveRecordOptions::kUnspecified, false);
            }));
  EXPECT_EQ(Variant::Text("Hello"), record->GetFields().Item("urn:schemas:httpmail:subject")->Value());
}

TEST_F(RecordTest, MoveRecordNeverOverwrites) {
  const std::string first = Deliver(MessageBuilder().Build());
  Deliver(MessageBuilder().Build(), "Drafts");
  auto record = OpenRecord(first);
  auto move = [&](const std::string& destination) {
    return ErrorOf([&] {
      record->MoveRecord(record->Source(), destination, "", "", MoveRecordOptions::kUnspecified, false);
    });
  };
  EXPECT_EQ(kStoreAlreadyExists, move(Url("drafts/HELLO.EML")));
  EXPECT_EQ(kStoreParentNotFound, move(Url("Nowhere/Hello.EML")));
  EXPECT_EQ(kStoreInvalidName, move(Url("Drafts") + "/"));
  EXPECT_EQ(0, move(Url("drafts/Other.eml")));
  EXPECT_EQ(Url("Drafts/Other.eml"), record->Source());  // the folder as created, the name as given
  EXPECT_EQ(Url("Drafts"), record->ParentURL());
  EXPECT_THAT(ItemNames("Drafts"), ElementsAre("Other.eml", "Hello.EML"));  // in the order they came into the store
  EXPECT_THAT(ItemNames("Inbox"), ElementsAre());
}

TEST_F(RecordTest, TheStreamLoadsAFileAndFlushDerivesTheProperties) {
  const std::string path = ::testing::TempDir() + "store_stream_test.eml";
  const std::string message = MessageBuilder().Subject("From a file").Build();
  {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    std::fwrite(message.data(), 1, message.size(), file);
    std::fclose(file);
  }
  std::unique_ptr<Record> record;
  ASSERT_EQ(0, OpenAs(Url("Inbox/Varnolt_Manual.eml"), ConnectMode::kReadWrite, RecordCreateOptions::kCreateOverwrite,
                      &record));
  auto stream = record->GetFields().Item(kDefaultStream)->StreamValue();
  stream->SetCharset("US-ASCII");
  stream->SetType(StreamType::kBinary);
  EXPECT_EQ(kStoreFileOpenFailed, ErrorOf([&] { stream->LoadFromFile(path + ".missing"); }));
  std::string backslashed = path;
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  stream->LoadFromFile(backslashed);
  stream->Flush();
  record->GetFields().Item(MapiField("x0E070003"))->SetValue(Variant::Int16(2));
  record->GetFields().Update();
  record->Close();
  std::remove(path.c_str());

  const std::string item = Url("Inbox/Varnolt_Manual.eml");
  EXPECT_EQ(message, store_->ReadContent(item));
  EXPECT_EQ(Variant::Text("From a file"), Prop(item, "urn:schemas:httpmail:subject"));
  EXPECT_EQ(Variant::Int16(2), Prop(item, MapiField("x0E070003")));  // the written value wins
  auto folder = OpenRecord(Url("Inbox"));
  EXPECT_EQ(kStoreNoStream, ErrorOf([&] { folder->GetFields().Item(kDefaultStream)->StreamValue(); }));
}

TEST_F(RecordTest, MailboxesAndFoldersAreProvisioned) {
  EXPECT_EQ(kStoreAlreadyExists, ErrorOf([&] { store_->AddMailbox("EXAMPLE.com", "Alice"); }));
  EXPECT_EQ(kStoreInvalidName, ErrorOf([&] { store_->AddMailbox("example.com", ".."); }));
  store_->AddMailbox("Example.org", "bob");
  ASSERT_EQ(2u, store_->ListMailboxes().size());
  EXPECT_EQ("example.com", store_->ListMailboxes()[0].domain);
  EXPECT_EQ("Example.org", store_->ListMailboxes()[1].domain);

  const std::string root = Url("");
  EXPECT_EQ(Variant::Text(Url("Deleted Items")), Prop(root, kDeletedItemsField));
  EXPECT_EQ(Variant::Text(Url("Inbox")), Prop(root, "urn:schemas:httpmail:inbox"));
  EXPECT_EQ(Variant::Text("IPF.Note"), Prop(Url("Junk E-Mail"), ExchangeField("outlookfolderclass")));
  store_->AddFolder(Url("inbox/Sub"));
  Deliver(MessageBuilder().Build(), "Inbox/Sub");
  std::vector<std::string> tree;
  for (const FolderSummary& folder : store_->ListFolders(kDomain, kUser)) {
    tree.push_back(folder.path + ":" + std::to_string(folder.depth) + ":" + std::to_string(folder.item_count));
  }
  EXPECT_THAT(tree, ElementsAre("Deleted Items:0:0", "Drafts:0:0", "Inbox:0:0", "Inbox/Sub:1:1", "Junk E-Mail:0:0",
                                "Sent Items:0:0"));
}

}  // namespace
}  // namespace varnolt
