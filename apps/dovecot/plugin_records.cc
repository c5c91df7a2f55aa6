#include "dovecot/plugin_records.h"

#include <fstream>
#include <sstream>

#include "backends/mailstore/message_properties.h"
#include "backends/mailstore/raw_headers.h"
#include "backends/mailstore/store_errors.h"
#include "backends/mailstore/store_names.h"
#include "dovecot/marker_keywords.h"
#include "platform/com/com_error.h"
#include "platform/names/unsaved_item.h"
#include "store/mail_marker.h"
#include "store/property_names.h"

namespace varnolt::dovecot {
namespace {

// The hidden flag the filter writes on SPAM it hides.
const std::string kHiddenField = MapiField("x67aa000b");
// What a Deleted Items folder is called where no \Trash special use says otherwise.
constexpr const char* kDeletedItemsName = "Deleted Items";

// The content stream of a new message: bytes from a file, written by Flush.
class ContentStream final : public Stream {
 public:
  explicit ContentStream(PluginRecord& record) : record_(record) {}

  // The bytes are kept as they are: charset and type change nothing here.
  void SetCharset(const std::string&) override {}
  void SetType(StreamType) override {}
  void LoadFromFile(const std::string& path) override {
    std::string unix_path = path;
    for (char& c : unix_path) c = c == '\\' ? '/' : c;
    std::ifstream file(unix_path, std::ios::binary);
    std::ostringstream bytes;
    if (!file || !(bytes << file.rdbuf())) throw StoreError(kStoreFileOpenFailed);
    bytes_ = bytes.str();
  }
  void Flush() override { record_.SetContent(bytes_); }

 private:
  PluginRecord& record_;
  std::string bytes_;
};

bool SplitPath(const std::string& path, std::string* parent, std::string* name) {
  return mailstore::SplitLast(path, parent, name);
}

}  // namespace

std::unique_ptr<Record> PluginConnection::CreateRecord() { return std::make_unique<PluginRecord>(*this); }

PluginRecord::PluginRecord(PluginConnection& connection)
    : connection_(connection),
      fields_(PropertyFields::Hooks{
          [this](const std::string& key) { return Computed(key); },
          [this](const PropertyMap& staged) { Commit(staged); },
          [this]() -> std::shared_ptr<Stream> {
            if (kind_ != Kind::kNewMessage) throw StoreError(kStoreNoStream);
            return std::make_shared<ContentStream>(*this);
          },
      }) {}

std::shared_ptr<PluginRecord> PluginRecord::ForDelivery(PluginConnection& connection, const std::string& mailbox,
                                                        std::string_view content) {
  auto record = std::make_shared<PluginRecord>(connection);
  record->kind_ = Kind::kDelivery;
  record->mailbox_ = mailbox;
  record->LoadMessage(content, {}, /*outside=*/true);
  return record;
}

std::shared_ptr<PluginRecord> PluginRecord::ForMessage(PluginConnection& connection, const std::string& mailbox,
                                                       uint32_t uid, bool outside) {
  auto message = connection.access().ReadMessage(mailbox, uid);
  if (!message) throw StoreError(kStoreNotFound);
  return ForMessage(connection, mailbox, uid, *message, outside);
}

std::shared_ptr<PluginRecord> PluginRecord::ForMessage(PluginConnection& connection, const std::string& mailbox,
                                                       uint32_t uid, const StoredMessage& message, bool outside) {
  auto record = std::make_shared<PluginRecord>(connection);
  record->kind_ = Kind::kMessage;
  record->mailbox_ = mailbox;
  record->uid_ = uid;
  record->LoadMessage(message.content, message.keywords, outside);
  return record;
}

void PluginRecord::LoadMessage(std::string_view content, const std::vector<std::string>& keywords, bool outside) {
  PropertyMap properties;
  // Delivered mail holds our own X-Varnolt line: the filter sees the message
  // as it judged it, so that a relearn takes back exactly what was learned.
  std::optional<std::string> stamped_marker;
  std::string judged;
  std::string_view derived_from = content;
  if (outside) {
    const std::string_view block(content.data(), mailstore::HeaderBlockLength(content));
    const std::string marker_header = mailstore::LowerKey(kMailMarkerHeader);
    for (const mailstore::RawHeader& header : mailstore::ParseHeaderBlock(block)) {
      if (mailstore::LowerKey(header.name) == marker_header) {
        stamped_marker = mailstore::UnfoldValue(header.value);
        break;
      }
    }
    // A copy without the X-Varnolt lines only when there are any: a message may be large.
    if (stamped_marker) derived_from = judged = StampMessage(content, kMarkerNone);
  }
  for (auto& [name, value] : mailstore::DeriveMessageProperties(derived_from, outside)) {
    properties[mailstore::LowerKey(name)] = std::move(value);
  }
  const std::string marker_key = mailstore::LowerKey(kMailMarkerField);
  if (stamped_marker) properties[marker_key] = Variant::Text(*stamped_marker);
  keywords_ = keywords;
  // A keyword is the marker's later word; the header only holds the first.
  if (auto marker = MarkerOfKeywords(keywords)) properties[marker_key] = Variant::Int32(*marker);
  marker_ = kMarkerNone;
  if (auto it = properties.find(marker_key); it != properties.end()) {
    try {
      marker_ = it->second.ToInt32();
    } catch (const ComError&) {
      // Not a number: the filter reads and reports the text itself.
    }
  }
  hidden_ = false;
  for (const std::string& keyword : keywords) {
    if (mailstore::LowerKey(keyword) == mailstore::LowerKey(kHiddenKeyword)) {
      properties[mailstore::LowerKey(kHiddenField)] = Variant::Bool(true);
      hidden_ = true;
    }
  }
  fields_.Load(std::move(properties));
}

void PluginRecord::LoadFolder() {
  // Dovecot keeps no properties of a folder: what is written lives as long as the record.
  fields_.Load({{mailstore::LowerKey(kContentClassField), Variant::Text(kFolderContentClass)}});
}

void PluginRecord::Require(bool open) const {
  if (open && kind_ == Kind::kClosed) throw StoreError(kStoreRecordClosed);
  if (!open && kind_ != Kind::kClosed) throw StoreError(kStoreRecordOpen);
}

void PluginRecord::Open(const std::string& source, Connection& connection, ConnectMode, RecordCreateOptions create_options,
                        RecordOpenOptions, const std::string&, const std::string&) {
  Require(false);
  if (&connection != &connection_) throw StoreError(kStoreForeignObject);
  const auto path = connection_.urls().PathOf(source);
  if (!path) throw StoreError(kStoreInvalidUrl);
  MailAccess& access = connection_.access();
  switch (create_options) {
    case RecordCreateOptions::kFailIfNotExists:
      OpenExisting(*path);
      return;
    case RecordCreateOptions::kCreateCollection:
      if (path->empty()) throw StoreError(kStoreAlreadyExists);
      if (!access.CreateMailbox(connection_.urls().MailboxOf(*path))) throw StoreError(kStoreAlreadyExists);
      kind_ = Kind::kFolder;
      mailbox_ = connection_.urls().MailboxOf(*path);
      LoadFolder();
      return;
    case RecordCreateOptions::kCreateOverwrite: {
      std::string parent, name;
      if (!SplitPath(*path, &parent, &name)) throw StoreError(kStoreParentNotFound);
      mailstore::CheckName(name);
      const std::string mailbox = connection_.urls().MailboxOf(parent);
      if (!access.MailboxExists(mailbox)) throw StoreError(kStoreParentNotFound);
      // Dovecot names messages by UID: the name only stands until the save.
      kind_ = Kind::kNewMessage;
      mailbox_ = mailbox;
      item_name_ = name;
      fields_.Load({});
      return;
    }
  }
  throw StoreError(kStoreInvalidArgument);
}

void PluginRecord::OpenExisting(const std::string& path) {
  MailAccess& access = connection_.access();
  if (path.empty()) {
    kind_ = Kind::kRoot;
    LoadFolder();
    return;
  }
  const std::string mailbox = connection_.urls().MailboxOf(path);
  if (access.MailboxExists(mailbox)) {
    kind_ = Kind::kFolder;
    mailbox_ = mailbox;
    LoadFolder();
    return;
  }
  std::string parent, name;
  const auto uid = SplitPath(path, &parent, &name) ? UidOfItemName(name) : std::nullopt;
  if (!uid) throw StoreError(kStoreNotFound);
  const std::string folder = connection_.urls().MailboxOf(parent);
  if (!access.MailboxExists(folder)) throw StoreError(kStoreNotFound);
  auto message = access.ReadMessage(folder, *uid);
  if (!message) throw StoreError(kStoreNotFound);
  kind_ = Kind::kMessage;
  mailbox_ = folder;
  uid_ = *uid;
  LoadMessage(message->content, message->keywords, /*outside=*/true);
}

Fields& PluginRecord::GetFields() {
  Require(true);
  return fields_;
}

std::string PluginRecord::Source() {
  const MailboxUrls& urls = connection_.urls();
  switch (kind_) {
    case Kind::kRoot:
      return urls.Root();
    case Kind::kFolder:
      return urls.FolderUrl(mailbox_);
    case Kind::kMessage:
      return urls.ItemUrl(mailbox_, uid_);
    case Kind::kDelivery:
      return urls.FolderUrl(mailbox_) + "/" + kUnsavedItemName;
    case Kind::kNewMessage:
      return urls.FolderUrl(mailbox_) + "/" + item_name_;
    case Kind::kClosed:
      break;
  }
  throw StoreError(kStoreRecordClosed);
}

std::string PluginRecord::ParentURL() {
  Require(true);
  const std::string source = Source();
  std::string parent, name;
  if (!mailstore::SplitLast(source, &parent, &name)) throw StoreError(kStoreInvalidUrl);
  return parent;
}

std::optional<Variant> PluginRecord::Computed(const std::string& key) {
  if (kind_ == Kind::kClosed) return std::nullopt;
  const bool folder = kind_ == Kind::kRoot || kind_ == Kind::kFolder;
  if (key == "dav:href") return Variant::Text(Source());
  if (key == "dav:parentname") return Variant::Text(ParentURL());
  if (key == "dav:iscollection") return Variant::Bool(folder);
  if (key == "dav:displayname") {
    std::string parent, name;
    mailstore::SplitLast(Source(), &parent, &name);
    return Variant::Text(name);
  }
  if (kind_ == Kind::kRoot && key == mailstore::LowerKey(kDeletedItemsField)) return Variant::Text(DeletedItemsUrl());
  if (kind_ == Kind::kRoot && key == "urn:schemas:httpmail:inbox") {
    return Variant::Text(connection_.urls().FolderUrl("INBOX"));
  }
  return std::nullopt;
}

std::string PluginRecord::DeletedItemsUrl() {
  MailAccess& access = connection_.access();
  if (access.MailboxExists(kDeletedItemsName)) return connection_.urls().FolderUrl(kDeletedItemsName);
  if (auto trash = access.TrashMailbox()) return connection_.urls().FolderUrl(*trash);
  // None there: a URL no folder has, so that nothing counts as deleted.
  return connection_.urls().FolderUrl(kDeletedItemsName);
}

std::vector<std::string> PluginRecord::StateKeywords() const {
  std::vector<std::string> keywords;
  if (marker_ != kMarkerNone) keywords = KeywordsOfMarker(marker_);
  if (hidden_) keywords.emplace_back(kHiddenKeyword);
  return keywords;
}

void PluginRecord::SetContent(std::string content) {
  content_ = std::move(content);
  has_content_ = true;
  LoadMessage(content_, {}, /*outside=*/false);
}

void PluginRecord::Commit(const PropertyMap& staged) {
  const std::vector<std::string> old_keywords = keywords_;
  const int32_t old_marker = marker_;
  const bool old_hidden = hidden_;
  if (auto it = staged.find(mailstore::LowerKey(kMailMarkerField)); it != staged.end()) {
    marker_ = it->second.ToInt32();
  }
  if (auto it = staged.find(mailstore::LowerKey(kHiddenField)); it != staged.end()) {
    hidden_ = it->second.kind() == Variant::Kind::kBool ? it->second.AsBool() : it->second.ToInt32() != 0;
  }
  MailAccess& access = connection_.access();
  if (kind_ == Kind::kNewMessage) {
    // A message is saved with its content, never empty in its place.
    if (!has_content_) throw StoreError(kStoreInvalidArgument);
    uid_ = access.SaveMessage(mailbox_, content_, StateKeywords());
    kind_ = Kind::kMessage;
    keywords_ = StateKeywords();
    return;
  }
  if (kind_ != Kind::kMessage) return;  // a delivery is saved by Dovecot; folders keep nothing
  std::vector<std::string> add, remove;
  if (marker_ != old_marker || staged.count(mailstore::LowerKey(kMailMarkerField))) {
    add = KeywordsOfMarker(marker_);
    remove = StaleMarkerKeywords(old_keywords, marker_);
  }
  if (hidden_ != old_hidden) (hidden_ ? add : remove).emplace_back(kHiddenKeyword);
  if (add.empty() && remove.empty()) return;
  try {
    access.UpdateKeywords(mailbox_, uid_, add, remove);
  } catch (const ComError& error) {
    if (error.number() != kStoreNotFound) throw;
    // Another session moved or expunged the message since the event read it:
    // what it holds now is that session's doing, and no failure of this one.
    connection_.Note("another session moved or deleted the message before its marker " + std::to_string(marker_) +
                         " was written",
                     Source());
    return;
  }
  keywords_ = old_keywords;
  for (const auto& k : remove) std::erase(keywords_, k);
  keywords_.insert(keywords_.end(), add.begin(), add.end());
}

std::string PluginRecord::MoveRecord(const std::string& source, const std::string& destination, const std::string&,
                                     const std::string&, MoveRecordOptions, bool) {
  Require(true);
  if (kind_ != Kind::kMessage && kind_ != Kind::kDelivery) throw StoreError(kStoreNotAnItem);
  if (mailstore::LowerKey(source) != mailstore::LowerKey(Source())) throw StoreError(kStoreInvalidArgument);
  const auto path = connection_.urls().PathOf(destination);
  std::string parent, name;
  if (!path || !SplitPath(*path, &parent, &name)) throw StoreError(kStoreInvalidUrl);
  const std::string target = connection_.urls().MailboxOf(parent);
  MailAccess& access = connection_.access();
  if (!access.MailboxExists(target)) throw StoreError(kStoreParentNotFound);
  if (target == mailbox_) throw StoreError(kStoreSameFolder);
  // The item's name is its UID: whatever name was asked for, Dovecot picks a
  // free one. A delivery only changes where it will be saved.
  if (kind_ == Kind::kMessage) uid_ = access.MoveMessage(mailbox_, uid_, target);
  mailbox_ = target;
  return Source();
}

void PluginRecord::Close() { kind_ = Kind::kClosed; }

}  // namespace varnolt::dovecot
