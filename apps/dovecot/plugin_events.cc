// The filter's events raised from Dovecot's hooks (dovecot_bridge.h). No
// failure leaves these functions: Dovecot's delivery and IMAP commands go on
// whatever the filter does.
#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "backends/mailstore/raw_headers.h"
#include "dovecot/dovecot_bridge.h"
#include "dovecot/mail_access.h"
#include "dovecot/marker_keywords.h"
#include "dovecot/plugin_host.h"
#include "dovecot/plugin_records.h"
#include "platform/com/com_error.h"
#include "store/property_names.h"
#include "store/store_events.h"

namespace varnolt::dovecot {
namespace {

MailboxUrls UrlsOf(mail_user* user, MailAccess& access) {
  std::string name, domain;
  SplitUserName(vd_user_name(user), vd_default_domain(), &name, &domain);
  return MailboxUrls(domain, name, access.Separator());
}

std::shared_ptr<PluginConnection> ConnectionOf(PluginHost& host, mail_user* user, MailAccess& access) {
  auto connection = std::make_shared<PluginConnection>(access, UrlsOf(user, access));
  connection->SetNoteSink([&host](const std::string& text, const std::string& source) { host.LogNote(text, source); });
  return connection;
}

void RaiseSave(PluginHost& host, const std::shared_ptr<PluginRecord>& record,
               const std::shared_ptr<PluginConnection>& connection, int32_t flags) {
  ComPtr<IExStoreDispEventInfo> info = ComPtr<IExStoreDispEventInfo>::Attach(new EventInfo(connection, record));
  host.SyncEvents().OnSyncSave(info.get(), record->Source(), flags);
}

// The process's host; Dovecot's instance is only asked for when the host is made.
PluginHost& HostOf(mail_user* user, const char* home) {
  if (PluginHost* running = PluginHost::Running(home)) return *running;
  return PluginHost::ForHome(home, vd_instance(user));
}

// What the last judged delivery keeps alive for the C side.
struct VerdictStorage {
  std::string mailbox;
  std::vector<std::string> keywords;
  std::vector<const char*> keyword_pointers;
};

VerdictStorage& LastVerdict() {
  static VerdictStorage storage;
  return storage;
}

// Reports a failure in Dovecot's log and in the filter's; the user's name is its source.
void ReportFailure(mail_user* user, const std::string& home, PluginHost* host, const std::string& text) {
  vd_log_error(user, text.c_str());
  try {
    const std::string source = vd_user_name(user);
    if (host) {
      host->LogFailure(text, source);
    } else {
      ReportToHomeLogs(home, text, source);
    }
  } catch (...) {
  }
}

std::string MailboxOf(mail_user* user) {
  std::string name, domain;
  SplitUserName(vd_user_name(user), vd_default_domain(), &name, &domain);
  return name + "@" + domain;
}

int64_t MicrosecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
}

// The delivery's record in the verdict journal, from what the filter decided.
void JournalDelivery(PluginHost& host, mail_user* user, std::string_view message, int64_t elapsed_us) {
  hosting::JournalWriter& journal = host.Journal();
  if (!journal.enabled() || !host.LastVerdict()) return;
  hosting::JudgedMessage judged;
  judged.mailbox = MailboxOf(user);
  judged.content = message;
  judged.elapsed_us = elapsed_us;
  journal.RecordDelivery(judged, *host.LastVerdict());
}

std::string Describe(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ComError& error) {
    return error.description();
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "an unknown failure";
  }
}

}  // namespace
}  // namespace varnolt::dovecot

using namespace varnolt;
using namespace varnolt::dovecot;

// The plugin finds these by name when it loads this library.
#define VARNOLT_PLUGIN_ENTRY extern "C" __attribute__((visibility("default")))

VARNOLT_PLUGIN_ENTRY int varnolt_judge_delivery(mail_user* user, const char* home, const char* content, size_t size,
                                      const char* default_mailbox, varnolt_verdict* verdict) {
  PluginHost* host = nullptr;
  try {
    host = &HostOf(user, home);
    DovecotMailAccess access(user);
    auto connection = ConnectionOf(*host, user, access);
    // The filter sees the message as it will be stored: without anyone else's
    // marker. A copy only when there is one to remove: a message may be large.
    std::string unmarked;
    std::string_view message(content, size);
    if (mailstore::HasSectionField(message, kMailMarkerHeader)) message = unmarked = StampMessage(message, 0);
    auto record = PluginRecord::ForDelivery(*connection, default_mailbox, message);
    host->LastVerdict().reset();
    const auto started = std::chrono::steady_clock::now();
    RaiseSave(*host, record, connection, kEventFlagsDelivery);
    JournalDelivery(*host, user, message, MicrosecondsSince(started));

    VerdictStorage& storage = LastVerdict();
    storage.mailbox = record->mailbox();
    storage.keywords = record->StateKeywords();
    storage.keyword_pointers.clear();
    for (const std::string& keyword : storage.keywords) storage.keyword_pointers.push_back(keyword.c_str());
    storage.keyword_pointers.push_back(nullptr);
    verdict->mailbox = storage.mailbox == default_mailbox ? nullptr : storage.mailbox.c_str();
    verdict->marker = record->marker();
    verdict->hidden = record->hidden() ? 1 : 0;
    verdict->keywords = storage.keyword_pointers.data();
    return 0;
  } catch (...) {
    ReportFailure(user, home, host,
                  "the message is delivered unfiltered: " + Describe(std::current_exception()));
    return -1;
  }
}

VARNOLT_PLUGIN_ENTRY void varnolt_stamp_message(const char* content, size_t size, int32_t marker, vd_bytes_callback* output,
                                      void* context) {
  try {
    const std::string stamped = StampMessage(std::string_view(content, size), marker);
    output(context, stamped.data(), stamped.size());
  } catch (...) {
    // Out of memory at worst: the message is stored as it came.
    output(context, content, size);
  }
}

VARNOLT_PLUGIN_ENTRY size_t varnolt_stamped_length(const char* content, size_t size) {
  return mailstore::CompleteHeaderSectionLength(std::string_view(content, size));
}

VARNOLT_PLUGIN_ENTRY void varnolt_user_saved(mail_user* user, const char* home, const char* mailbox, uint32_t uid, int kind) {
  PluginHost* host = nullptr;
  try {
    host = &HostOf(user, home);
    DovecotMailAccess access(user);
    auto connection = ConnectionOf(*host, user, access);
    const bool moved = kind == VARNOLT_SAVE_MOVE;
    // Read once: the journal's record of a correction takes its Message-ID from the same bytes.
    const std::optional<StoredMessage> stored = access.ReadMessage(mailbox, uid);
    if (!stored) {
      // Another session expunged or moved it on after the commit: there is nothing left to judge.
      const std::string what = moved ? "message moved into " : "new message in ";
      vd_log_info(user, (what + mailbox + " (UID " + std::to_string(uid) +
                         ") was gone before the filter could read it; the filter was not told of it")
                            .c_str());
      return;
    }
    // A mail client's new message is the client's own, not mail from outside.
    auto record = PluginRecord::ForMessage(*connection, mailbox, uid, *stored, /*outside=*/moved);
    host->LastVerdict().reset();
    RaiseSave(*host, record, connection, moved ? kEventFlagsUserMove : kEventFlagsClientCreate);
    const std::optional<SaveVerdict>& verdict = host->LastVerdict();
    if (moved && verdict && verdict->decided_by == DecidedBy::kUser && host->Journal().enabled()) {
      // The filter relearned the message: the user corrected its verdict.
      host->Journal().RecordMove(MailboxOf(user), stored->content, *verdict);
    }
  } catch (...) {
    ReportFailure(user, home, host,
                  std::string("the filter was not told of the ") + (kind == VARNOLT_SAVE_MOVE ? "move" : "new message") +
                      " in " + mailbox + ": " + Describe(std::current_exception()));
  }
}
