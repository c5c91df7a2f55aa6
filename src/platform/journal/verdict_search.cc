// VerdictJournal::Search (verdict_search.h).
#include "platform/journal/verdict_search.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include "platform/journal/bounded_field.h"
#include "platform/journal/verdict_journal.h"
#include "platform/sqlite/database.h"

namespace varnolt::journal {

const char* const kSearchIndexes = R"sql(
CREATE INDEX IF NOT EXISTS verdicts_message_id ON verdicts(message_id);
CREATE INDEX IF NOT EXISTS verdicts_sender_domain ON verdicts(sender_domain);
CREATE INDEX IF NOT EXISTS verdicts_corrected ON verdicts(id) WHERE correction <> '';
)sql";

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
  return text;
}

}  // namespace

std::vector<VerdictRecord> VerdictJournal::Search(const VerdictQuery& query) {
  // Each filter adds a condition and its value, bound in order.
  std::string where = "id < ?1";
  std::vector<std::function<void(sqlite::Statement&, int)>> binds;
  auto add = [&](const std::string& condition, std::function<void(sqlite::Statement&, int)> bind) {
    where += " AND " + condition + std::to_string(binds.size() + 3);
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
  if (!query.mailbox.empty()) text("mailbox", Lower(query.mailbox));
  if (!query.sender_domain.empty()) text("sender_domain", BoundedField(Lower(query.sender_domain), kDomainBytes));
  if (!query.message_id.empty()) text("message_id", BoundedField(query.message_id, kMessageIdBytes));
  if (!query.verdict.empty()) text("verdict", query.verdict);
  if (!query.action.empty()) text("action", query.action);
  if (query.min_score) real("score >= ?", *query.min_score);
  if (query.max_score) real("score <= ?", *query.max_score);
  if (query.corrected) where += *query.corrected ? " AND correction <> ''" : " AND correction = ''";
  // The ids first, through the indexes; then each record (a page, a few dozen lookups by key).
  std::vector<int64_t> ids;
  {
    sqlite::Statement row(*db_, "SELECT id FROM verdicts WHERE " + where + " ORDER BY id DESC LIMIT ?2");
    row.Bind(1, query.before_id > 0 ? query.before_id : std::numeric_limits<int64_t>::max());
    row.Bind(2, int64_t{std::max(query.limit, 0)});
    for (size_t i = 0; i < binds.size(); ++i) binds[i](row, static_cast<int>(i) + 3);
    while (row.Step()) ids.push_back(row.Int(0));
  }
  std::vector<VerdictRecord> records;
  for (int64_t id : ids) {
    if (std::optional<VerdictRecord> record = Find(id)) records.push_back(std::move(*record));  // unless pruned meanwhile
  }
  return records;
}

}  // namespace varnolt::journal
