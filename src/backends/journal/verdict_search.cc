// VerdictJournal::Search (verdict_search.h).
#include "backends/journal/verdict_search.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include "backends/journal/bounded_field.h"
#include "backends/journal/verdict_journal.h"
#include "backends/sqlite/database.h"

namespace varnolt::journal {

const char* const kSearchIndexes = R"sql(
CREATE INDEX IF NOT EXISTS verdicts_message_id ON verdicts(message_id, at);
CREATE INDEX IF NOT EXISTS verdicts_mailbox_at ON verdicts(mailbox, at);
CREATE INDEX IF NOT EXISTS verdicts_sender_at ON verdicts(sender_domain, at);
CREATE INDEX IF NOT EXISTS verdicts_sender_address_at ON verdicts(sender, at);
CREATE INDEX IF NOT EXISTS verdicts_server_at ON verdicts(server, at);
CREATE INDEX IF NOT EXISTS verdicts_domain_at ON verdicts(substr(mailbox, instr(mailbox, '@') + 1), at);
CREATE INDEX IF NOT EXISTS verdicts_at_filters ON verdicts(at, id, verdict, action, score, correction);
CREATE INDEX IF NOT EXISTS verdicts_corrected ON verdicts(at) WHERE correction <> '';
)sql";

// Trigrams of each subject, kept in step with the records by triggers (so a
// removal by age or by hand cannot leave one behind). The subject is never
// changed once written; the update trigger is there for a hand's edit.
const char* const kSubjectIndex = R"sql(
CREATE VIRTUAL TABLE IF NOT EXISTS verdicts_subject USING fts5(
  subject, content='verdicts', content_rowid='id', tokenize='trigram');
CREATE TRIGGER IF NOT EXISTS verdicts_subject_added AFTER INSERT ON verdicts BEGIN
  INSERT INTO verdicts_subject(rowid, subject) VALUES(new.id, new.subject);
END;
CREATE TRIGGER IF NOT EXISTS verdicts_subject_removed AFTER DELETE ON verdicts BEGIN
  INSERT INTO verdicts_subject(verdicts_subject, rowid, subject) VALUES('delete', old.id, old.subject);
END;
CREATE TRIGGER IF NOT EXISTS verdicts_subject_changed AFTER UPDATE OF subject ON verdicts BEGIN
  INSERT INTO verdicts_subject(verdicts_subject, rowid, subject) VALUES('delete', old.id, old.subject);
  INSERT INTO verdicts_subject(rowid, subject) VALUES(new.id, new.subject);
END;
)sql";

namespace {

// Trigrams are of characters: a part of fewer than three finds nothing
// through them, nor is a part that is not UTF-8 cut into them as a subject is.
bool IndexableSubjectPart(const std::string& part) {
  size_t characters = 0;
  for (size_t i = 0; i < part.size(); ++characters) {
    const auto lead = static_cast<unsigned char>(part[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > part.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(part[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return characters >= 3;
}

// The part as one FTS5 phrase: its trigrams in a row, whatever it holds.
std::string SubjectPhrase(const std::string& part) {
  std::string phrase = "\"";
  for (char c : part) {
    phrase += c;
    if (c == '"') phrase += '"';
  }
  return phrase + '"';
}

}  // namespace

std::string LowerAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
  return text;
}

std::string MailboxDomainPattern(const std::string& domain) {
  std::string pattern = "%@";
  for (char c : LowerAscii(domain)) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern;
}

std::string SubjectPattern(const std::string& part) {
  std::string pattern = "%";
  for (char c : LowerAscii(part)) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + '%';
}

std::optional<std::vector<int64_t>> VerdictJournal::FewWithSubject(const std::string& phrase) {
  constexpr int64_t kFew = 5000;  // sorted in a few ms; more are dense enough to meet reading
  sqlite::Statement row(*db_, "SELECT rowid FROM verdicts_subject WHERE verdicts_subject MATCH ?1 LIMIT ?2");
  row.Bind(1, phrase).Bind(2, kFew);
  std::vector<int64_t> ids;
  while (row.Step()) ids.push_back(row.Int(0));
  if (static_cast<int64_t>(ids.size()) >= kFew) return std::nullopt;
  return ids;
}

std::vector<VerdictRecord> VerdictJournal::Search(const VerdictQuery& query) {
  // Newest first by the time of the verdict, the id breaking ties: every
  // index above ends in (at, id), so that a page is read in index order, never sorted.
  // The next page starts below the last record of this one.
  FollowFile();
  std::string where = "1";
  int64_t before_at = std::numeric_limits<int64_t>::max();
  int64_t before_id = std::numeric_limits<int64_t>::max();
  if (query.before_id > 0) {
    const std::optional<VerdictRecord> last = Find(query.before_id);
    if (!last) return {};  // pruned meanwhile: the pages past it are gone too
    before_at = last->time;
    before_id = last->id;
    where = "at <= ?1 AND (at < ?1 OR id < ?2)";
  }
  std::vector<std::function<void(sqlite::Statement&, int)>> binds;
  auto add = [&](const std::string& condition, std::function<void(sqlite::Statement&, int)> bind) {
    where += " AND " + condition + std::to_string(binds.size() + 4);
    binds.push_back(std::move(bind));
  };
  auto text = [&](const char* column, std::string value) {
    add(std::string(column) + " = ?", [value](sqlite::Statement& s, int i) { s.Bind(i, value); });
  };
  auto number = [&](const char* condition, int64_t value) {
    add(condition, [value](sqlite::Statement& s, int i) { s.Bind(i, value); });
  };
  auto real = [&](const char* condition, double value) {
    add(condition, [value](sqlite::Statement& s, int i) { s.Bind(i, value); });
  };
  if (query.from) number("at >= ?", *query.from);
  if (query.to) number("at < ?", *query.to);
  // Mailboxes and domains are kept in lower case; a Message-ID as it was bounded on writing.
  if (!query.mailbox.empty()) text("mailbox", LowerAscii(query.mailbox));
  if (!query.domain.empty()) {
    // Found through the index on the part after the '@'; the pattern keeps out a mailbox without one.
    text("substr(mailbox, instr(mailbox, '@') + 1)", LowerAscii(query.domain));
    const std::string pattern = MailboxDomainPattern(query.domain);
    add("mailbox LIKE ?", [pattern](sqlite::Statement& s, int i) { s.Bind(i, pattern); });
    where += " ESCAPE '\\'";
  }
  if (!query.subject.empty()) {
    // A part of the subject, in any (ASCII) case. A rare one is found through
    // its trigrams (which fold more than ASCII case: the comparison below
    // decides); a common one sooner by reading along the time order, where a
    // page's worth comes early, than by sorting all its records.
    const std::string part = LowerAscii(query.subject);
    // (The index is read once: its ids go into the statement, numbers from the file itself.)
    if (IndexableSubjectPart(part) && has_subject_index_) {
      if (const std::optional<std::vector<int64_t>> ids = FewWithSubject(SubjectPhrase(part))) {
        if (ids->empty()) return {};
        where += " AND id IN (";
        for (size_t i = 0; i < ids->size(); ++i) where += (i == 0 ? "" : ",") + std::to_string((*ids)[i]);
        where += ")";
      }
    }
    add("instr(lower(subject), ?", [part](sqlite::Statement& s, int i) { s.Bind(i, part); });
    where += ") > 0";
  }
  if (!query.sender.empty() || !query.server.empty()) {
    if (!has_later_) return {};  // a file no writer of this version opened yet keeps neither
    if (!query.sender.empty()) text("sender", BoundedField(LowerAscii(query.sender), kAddressBytes));
    if (!query.server.empty()) text("server", query.server);
  }
  if (!query.sender_domain.empty()) text("sender_domain", BoundedField(LowerAscii(query.sender_domain), kDomainBytes));
  if (!query.message_id.empty()) text("message_id", BoundedField(query.message_id, kMessageIdBytes));
  // "+": a verdict or action matches too many records to choose the index by;
  // they are checked within the time-ordered index that holds them.
  if (!query.verdict.empty()) text("+verdict", query.verdict);
  if (!query.action.empty()) text("+action", query.action);
  if (query.min_score) real("score >= ?", *query.min_score);
  if (query.max_score) real("score <= ?", *query.max_score);
  if (query.corrected) where += *query.corrected ? " AND correction <> ''" : " AND correction = ''";
  // The ids first, through the indexes; then each record (a page, a few dozen lookups by key).
  std::vector<int64_t> ids;
  {
    sqlite::Statement row(*db_, "SELECT id FROM verdicts WHERE " + where + " ORDER BY at DESC, id DESC LIMIT ?3");
    if (query.before_id > 0) row.Bind(1, before_at).Bind(2, before_id);
    row.Bind(3, int64_t{std::max(query.limit, 0)});
    for (size_t i = 0; i < binds.size(); ++i) binds[i](row, static_cast<int>(i) + 4);
    while (row.Step()) ids.push_back(row.Int(0));
  }
  std::vector<VerdictRecord> records;
  for (int64_t id : ids) {
    if (std::optional<VerdictRecord> record = Find(id)) records.push_back(std::move(*record));  // unless pruned meanwhile
  }
  return records;
}

}  // namespace varnolt::journal
