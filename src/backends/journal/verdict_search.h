// A search of the verdict journal: every filter optional, all of them
// together, newest first (by the verdict's time) and a page at a time. Each
// exact-match filter and the corrected records have an index ordered by time,
// so that a search reads one page of an index over millions of records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varnolt::journal {

struct VerdictQuery {
  std::optional<int64_t> from;  // at or after (seconds since the epoch)
  std::optional<int64_t> to;    // before
  std::string mailbox;          // user@domain, any case; "": any
  std::string domain;           // the mailbox's domain, any case (no index: read along the time order)
  std::string sender;           // the From address, any case
  std::string subject;          // a part of the subject (kept only with [journal] subjects), any ASCII case
  std::string sender_domain;    // any case
  std::string message_id;       // without angle brackets, as written
  std::string server;           // the server that judged, exactly
  std::string verdict;          // "ham", "spam", "none"
  std::string action;           // "filed", "hidden", "left", "removed"
  std::optional<double> min_score, max_score;  // both inclusive; a record without a score never matches
  std::optional<bool> corrected;
  int64_t before_id = 0;  // the next page: records older than this one
  int limit = 50;

  bool Filters() const {
    return from || to || !mailbox.empty() || !domain.empty() || !sender.empty() || !subject.empty() ||
           !sender_domain.empty() || !message_id.empty() || !server.empty() || !verdict.empty() || !action.empty() ||
           min_score || max_score || corrected;
  }
};

// The text in lower case (ASCII: addresses and domains are stored so).
std::string LowerAscii(std::string text);
// A LIKE pattern (with ESCAPE '\\') matching a mailbox of the domain, its wildcards taken literally.
std::string MailboxDomainPattern(const std::string& domain);

// A LIKE pattern (default escape, a backslash) for a part of a subject in lower case, its wildcards taken literally.
std::string SubjectPattern(const std::string& part);

// Created with the journal's tables (and added to older journals when a
// writer opens them).
extern const char* const kSearchIndexes;
// The subject's trigram index and the triggers that keep it; the table is
// verdicts_subject. Built (or filled) only where kSearchIndexes is.
extern const char* const kSubjectIndex;

}  // namespace varnolt::journal
