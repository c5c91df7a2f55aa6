#include "hosting/journal_writer.h"

#include <chrono>

#include "hosting/journal_opening.h"
#include "hosting/message_summary.h"
#include "platform/com/com_error.h"

namespace varnolt::hosting {
namespace {

constexpr int64_t kDay = 24 * 3600;
// A journal that failed is not tried again for this long.
constexpr int64_t kRetryOpenSeconds = 60;

}  // namespace

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

const char* VerdictOfMarker(const std::optional<int32_t>& marker) {
  if (marker == 1) return "ham";
  if (marker == 2) return "spam";
  return "none";
}

const char* ActionOf(const SaveVerdict& verdict) {
  if (verdict.hidden) return "hidden";
  return verdict.moved_to.empty() ? "left" : "filed";
}

JournalWriter::JournalWriter(const HomeConfig& config, std::string host, LogLine log, bool long_lived,
                             PostgresJournalMaker postgres)
    : path_(config.journal_store == kPostgresModelStore ? "in PostgreSQL" : config.journal_path),
      keep_days_(config.journal_keep_days),
      subjects_(config.journal_subjects),
      host_(std::move(host)),
      log_(std::move(log)),
      long_lived_(long_lived),
      config_(config),
      postgres_(postgres) {}

JournalWriter::~JournalWriter() = default;

// After a failure the journal rests for a while: a journal that cannot be
// written (a full disk, a file of another owner) costs a long-lived process
// one log line and one wait a minute, not one per message.
void JournalWriter::Fail(const std::string& what) noexcept {
  journal_.reset();
  retry_open_after_ = NowSeconds() + kRetryOpenSeconds;
  try {
    log_("verdict journal " + path_ + ": " + what +
         (long_lived_ ? " (the journal is tried again in a minute)" : " (this message was not journaled)"));
  } catch (...) {
  }
}

journal::Journal* JournalWriter::Journal() {
  const int64_t now = NowSeconds();
  if (!journal_) {
    if (now < retry_open_after_) return nullptr;
    retry_open_after_ = now + kRetryOpenSeconds;
    journal_ = OpenJournal(config_, false, postgres_);
  }
  // Once a process, and once a day in a long-lived one.
  if (now - last_prune_ >= kDay) {
    last_prune_ = now;
    journal_->Prune(now - keep_days_ * kDay);
  }
  return journal_.get();
}

template <typename Write>
void JournalWriter::Guarded(Write write) noexcept {
  try {
    write();
  } catch (const ComError& error) {
    Fail(error.description());
  } catch (const std::exception& error) {
    Fail(error.what());
  } catch (...) {
    Fail("an unknown failure");
  }
}

void JournalWriter::RecordDelivery(const JudgedMessage& message, const SaveVerdict& verdict) noexcept {
  if (!enabled()) return;
  Guarded([&] {
    journal::Journal* journal = Journal();
    if (!journal) return;
    const MessageSummary summary = SummarizeMessage(message.content, subjects_);
    journal::VerdictRecord record;
    record.time = NowSeconds();
    record.mailbox = journal::LowerAscii(message.mailbox);
    record.message_id = summary.message_id;
    record.sender = summary.sender;
    record.sender_domain = summary.sender_domain;
    record.size = static_cast<int64_t>(message.content.size());
    record.verdict = VerdictOfMarker(verdict.marker);
    record.action = message.removed ? "removed" : ActionOf(verdict);
    if (verdict.score) {
      record.score = verdict.score->spamminess;
      record.learned = verdict.score->learned;
      // The decision as it was made: the model changes with every lesson after.
      record.counts_part = verdict.score->counts_part;
      record.linear_part = verdict.score->linear_part;
      if (verdict.score->linear_part) record.linear_weight = verdict.score->linear_weight;
      record.clues = verdict.score->clues;
    }
    record.decided_by = DecidedByName(verdict.decided_by);
    record.host = host_;
    record.server = config_.journal_server;
    if (subjects_) record.subject = summary.subject;
    record.elapsed_us = message.elapsed_us;
    record.error = verdict.failure && verdict.failure->in_engine;
    journal->Add(record);
  });
}

void JournalWriter::RecordMove(const std::string& mailbox, std::string_view content,
                               const SaveVerdict& verdict) noexcept {
  if (!enabled() || verdict.decided_by != DecidedBy::kUser || !verdict.is_spam) return;
  Guarded([&] {
    journal::Journal* journal = Journal();
    if (!journal) return;
    const MessageSummary summary = SummarizeMessage(content, false);
    journal->Correct(journal::LowerAscii(mailbox), summary.message_id,
                     *verdict.is_spam ? journal::Correction::kToJunk : journal::Correction::kFromJunk,
                     NowSeconds());
  });
}

}  // namespace varnolt::hosting
