// How a host writes the verdict journal after an event: the filter's verdict
// of it (save_verdict.h) becomes one record, and a user's correction is
// joined to the record of the same Message-ID. A
// journal that cannot be written never fails or holds up the host: each call
// waits at most the busy timeout, and a failure is one line through the
// host's log, after which the journal is left alone for a minute (what
// happens meanwhile is not journaled). Records past [journal] keep_days are
// pruned by the writers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "backends/journal/journal.h"
#include "hosting/home_config.h"
#include "hosting/journal_opening.h"
#include "platform/save_verdict.h"

namespace varnolt::hosting {

// What the host knows of a message beside the filter's verdict on it.
struct JudgedMessage {
  std::string mailbox;              // user@domain
  std::string_view content;         // the message as delivered
  bool removed = false;             // the item is gone after the event
  int64_t elapsed_us = 0;           // the filter's event
};

class JournalWriter {
 public:
  using LogLine = std::function<void(const std::string&)>;
  // host: "varnolt" or "dovecot". The journal is opened on first use.
  // long_lived: the process goes on to other events (a mail server's), so a
  // failure's line says when the journal is tried again.
  // postgres: how a [journal] store = postgresql is opened (journal_opening.h).
  JournalWriter(const HomeConfig& config, std::string host, LogLine log, bool long_lived = true,
                PostgresJournalMaker postgres = LinkedPostgresJournal);
  ~JournalWriter();

  bool enabled() const { return keep_days_ > 0; }
  // Never throws.
  void RecordDelivery(const JudgedMessage& message, const SaveVerdict& verdict) noexcept;
  // A move the filter took as the user's correction (it relearned the
  // message); nothing for other moves. Never throws.
  void RecordMove(const std::string& mailbox, std::string_view content, const SaveVerdict& verdict) noexcept;

 private:
  journal::Journal* Journal();
  void Fail(const std::string& what) noexcept;
  // Runs write with every failure turned into Fail: a journal never fails an event.
  template <typename Write>
  void Guarded(Write write) noexcept;

  std::string path_;
  int keep_days_;
  bool subjects_;
  std::string host_;
  LogLine log_;
  bool long_lived_;
  const HomeConfig config_;
  PostgresJournalMaker postgres_;
  std::unique_ptr<journal::Journal> journal_;
  int64_t last_prune_ = 0;
  int64_t retry_open_after_ = 0;
};

// The verdict the journal records for a marker: "ham", "spam" or "none".
const char* VerdictOfMarker(const std::optional<int32_t>& marker);

// What the filter did with the item: "hidden", "filed" (moved into a junk
// folder) or "left" where it was delivered.
const char* ActionOf(const SaveVerdict& verdict);

// Seconds since the epoch.
int64_t NowSeconds();

}  // namespace varnolt::hosting
