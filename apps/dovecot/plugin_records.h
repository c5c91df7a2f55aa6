// The store access interface over one Dovecot user's mailboxes: the
// connection of an event and the records it opens. A record is the mailbox
// root, a folder (a Dovecot mailbox), a stored message, a new message to be
// saved, or the message of a delivery that Dovecot has not stored yet.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dovecot/mail_access.h"
#include "dovecot/mailbox_urls.h"
#include "dovecot/property_fields.h"
#include "store/record.h"

namespace varnolt::dovecot {

class PluginConnection final : public Connection {
 public:
  PluginConnection(MailAccess& access, MailboxUrls urls) : access_(access), urls_(std::move(urls)) {}

  std::unique_ptr<Record> CreateRecord() override;

  MailAccess& access() { return access_; }
  const MailboxUrls& urls() const { return urls_; }

  // Where the records tell what happened that is no failure (text, the
  // item's URL); nowhere until set.
  using NoteSink = std::function<void(const std::string& text, const std::string& source)>;
  void SetNoteSink(NoteSink sink) { note_sink_ = std::move(sink); }
  void Note(const std::string& text, const std::string& source) const {
    if (note_sink_) note_sink_(text, source);
  }

 private:
  MailAccess& access_;
  MailboxUrls urls_;
  NoteSink note_sink_;
};

class PluginRecord final : public Record {
 public:
  explicit PluginRecord(PluginConnection& connection);

  // The message of a delivery into mailbox, before Dovecot stores it; its URL
  // names no UID (kUnsavedItemName), as the UID is only given by the save.
  // Moves and markers only change where and how it will be saved.
  static std::shared_ptr<PluginRecord> ForDelivery(PluginConnection& connection, const std::string& mailbox,
                                                   std::string_view content);
  // A stored message. outside: it came from outside the organisation (it
  // was delivered), rather than made by a mail client.
  static std::shared_ptr<PluginRecord> ForMessage(PluginConnection& connection, const std::string& mailbox,
                                                  uint32_t uid, bool outside);
  // The same for a message the caller has read already.
  static std::shared_ptr<PluginRecord> ForMessage(PluginConnection& connection, const std::string& mailbox,
                                                  uint32_t uid, const StoredMessage& message, bool outside);

  void Open(const std::string& source, Connection& connection, ConnectMode mode, RecordCreateOptions create_options,
            RecordOpenOptions open_options, const std::string& user_name = "",
            const std::string& password = "") override;
  Fields& GetFields() override;
  std::string Source() override;
  std::string ParentURL() override;
  std::string MoveRecord(const std::string& source, const std::string& destination, const std::string& user_name,
                         const std::string& password, MoveRecordOptions options, bool async) override;
  void Close() override;

  // Where a delivered message goes, and what the filter wrote on it.
  const std::string& mailbox() const { return mailbox_; }
  int32_t marker() const { return marker_; }
  bool hidden() const { return hidden_; }
  // The keywords the marker and "hidden" give a message.
  std::vector<std::string> StateKeywords() const;

  // The content a new message gets (its stream's Flush).
  void SetContent(std::string content);

 private:
  enum class Kind { kClosed, kRoot, kFolder, kMessage, kNewMessage, kDelivery };

  void Require(bool open) const;
  void LoadFolder();
  void LoadMessage(std::string_view content, const std::vector<std::string>& keywords, bool outside);
  void OpenExisting(const std::string& path);
  std::optional<Variant> Computed(const std::string& key);
  void Commit(const PropertyMap& staged);
  std::string DeletedItemsUrl();

  PluginConnection& connection_;
  Kind kind_ = Kind::kClosed;
  std::string mailbox_;    // folder: itself; message: where it is
  uint32_t uid_ = 0;       // of a stored message
  std::string item_name_;  // a new message before it is saved
  std::string content_;    // a new message's content
  bool has_content_ = false;
  std::vector<std::string> keywords_;
  int32_t marker_ = 0;
  bool hidden_ = false;
  PropertyFields fields_;
};

}  // namespace varnolt::dovecot
