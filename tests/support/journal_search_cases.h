// The search of the verdict journal as one table, run against each backend:
// five records over three mailboxes and two servers, one of them corrected.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backends/journal/journal.h"

namespace varnolt::testing {

using journal::Correction;
using journal::VerdictQuery;
using journal::VerdictRecord;

inline constexpr int64_t kSearchTime = 1796637900;

inline void FillForSearch(journal::Journal& journal) {
  constexpr int64_t kT = kSearchTime;
  struct Row {
    const char* mailbox;
    const char* message_id;
    const char* domain;
    std::optional<double> score;
    const char* verdict;
    const char* action;
    int64_t time;
  } rows[] = {
      {"alice@example.com", "a1@x", "partner.example", 0.02, "ham", "left", kT - 300},    // 1
      {"alice@example.com", "a2@x", "spam.example", 0.99, "spam", "filed", kT - 200},     // 2
      {"bob@example.com", "b1@x", "partner.example", 0.8049, "spam", "filed", kT - 100},  // 3
      {"bob@example.com", "b2@x", "spam.example", std::nullopt, "ham", "left", kT},       // 4, whitelisted
      {"carol@example.org", "a1@x", "partner.example", 0.5, "none", "left", kT + 100},    // 5
  };
  for (const Row& r : rows) {
    VerdictRecord record;
    record.mailbox = r.mailbox;
    record.message_id = r.message_id;
    record.sender_domain = r.domain;
    record.sender = std::string(r.message_id[0] == 'a' ? "ann@" : "ben@") + r.domain;
    record.subject = std::string("Issue ") + r.message_id;
    record.score = r.score;
    record.verdict = r.verdict;
    record.action = r.action;
    record.time = r.time;
    record.host = "varnolt";
    record.server = r.time < kT ? "mx1" : "mx2";
    journal.Add(record);
  }
  journal.Correct("bob@example.com", "b1@x", Correction::kFromJunk, kT + 500);
}

// Record ids are those of a journal filled by FillForSearch alone (1 to 5).
inline void ExpectSearchTable(journal::Journal& journal) {
  auto q = [](auto&& set) {
    VerdictQuery query;
    set(query);
    return query;
  };
  struct Case {
    const char* name;
    VerdictQuery query;
    std::vector<int64_t> ids;  // newest first
  } cases[] = {
      {"none", {}, {5, 4, 3, 2, 1}},
      {"from", q([](VerdictQuery& v) { v.from = kSearchTime - 100; }), {5, 4, 3}},
      {"to is exclusive", q([](VerdictQuery& v) { v.to = kSearchTime - 100; }), {2, 1}},
      {"mailbox in any case", q([](VerdictQuery& v) { v.mailbox = "Bob@Example.COM"; }), {4, 3}},
      {"mailbox's domain in any case", q([](VerdictQuery& v) { v.domain = "EXAMPLE.com"; }), {4, 3, 2, 1}},
      {"a domain is the whole tail", q([](VerdictQuery& v) { v.domain = "ample.com"; }), {}},
      {"wildcards in a domain are letters", q([](VerdictQuery& v) { v.domain = "example_com"; }), {}},
      {"a part of the subject in any case", q([](VerdictQuery& v) { v.subject = "ISSUE A1"; }), {5, 1}},
      {"a subject's wildcards are letters", q([](VerdictQuery& v) { v.subject = "Issue %"; }), {}},
      {"a part too short for trigrams", q([](VerdictQuery& v) { v.subject = "B2"; }), {4}},
      {"a subject's quotes and backslash are letters", q([](VerdictQuery& v) { v.subject = "e \" OR a1\\"; }), {}},
      {"sender's address in any case", q([](VerdictQuery& v) { v.sender = "Ann@Partner.example"; }), {5, 1}},
      {"sender's domain", q([](VerdictQuery& v) { v.sender_domain = "SPAM.example"; }), {4, 2}},
      {"server", q([](VerdictQuery& v) { v.server = "mx2"; }), {5, 4}},
      {"Message-ID across mailboxes", q([](VerdictQuery& v) { v.message_id = "a1@x"; }), {5, 1}},
      {"verdict", q([](VerdictQuery& v) { v.verdict = "spam"; }), {3, 2}},
      {"action", q([](VerdictQuery& v) { v.action = "left"; }), {5, 4, 1}},
      {"score range, inclusive, no unscored",
       q([](VerdictQuery& v) {
         v.min_score = 0.5;
         v.max_score = 0.8049;
       }),
       {5, 3}},
      {"corrected", q([](VerdictQuery& v) { v.corrected = true; }), {3}},
      {"not corrected", q([](VerdictQuery& v) { v.corrected = false; }), {5, 4, 2, 1}},
      {"together",
       q([](VerdictQuery& v) {
         v.sender_domain = "partner.example";
         v.verdict = "ham";
         v.to = kSearchTime;
       }),
       {1}},
      {"a page", q([](VerdictQuery& v) { v.limit = 2; }), {5, 4}},
      {"the next page", q([](VerdictQuery& v) {
         v.limit = 2;
         v.before_id = 4;
       }),
       {3, 2}},
      {"nothing matches", q([](VerdictQuery& v) { v.mailbox = "nobody@example.com"; }), {}},
      {"quotes are values, not SQL", q([](VerdictQuery& v) { v.mailbox = "x' OR '1'='1"; }), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int64_t> ids;
    for (const VerdictRecord& record : journal.Search(c.query)) ids.push_back(record.id);
    EXPECT_EQ(c.ids, ids);
  }
  const std::vector<VerdictRecord> found = journal.Search(q([](VerdictQuery& v) { v.corrected = true; }));
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ("from_junk", found[0].correction);  // whole records, as Find gives them
}

}  // namespace varnolt::testing
