// The verdict journal in the models' PostgreSQL (journal_schema.h), shared
// by several servers: each writes its records (under the record's server,
// else its own name), figures and counters under its own name, and every
// server's dashboard reads them all. Its all-time
// counters and alert figures are this server's (each server is scraped for
// its own).
//
// A lost connection is made again on the next call. Throws ComError
// (pg_errors.h) like the connection; kPgSchemaMissing until `varnolt db
// migrate` made the tables.
#pragma once

#include <memory>
#include <string>

#include "backends/journal/journal.h"

namespace varnolt::postgres {
class Connection;
}

namespace varnolt::journal {

class PostgresJournal : public Journal {
 public:
  // conninfo: a libpq connection string; server: this server's name.
  PostgresJournal(std::string conninfo, std::string server);
  ~PostgresJournal() override;

  int64_t Add(const VerdictRecord& record) override;
  void AddAll(const std::vector<VerdictRecord>& records) override;
  bool Correct(const std::string& mailbox, const std::string& message_id, Correction correction,
               int64_t time) override;
  int64_t Prune(int64_t before_time) override;
  Totals TotalsSince(int64_t time) override;
  std::vector<HourFigures> HoursSince(int64_t time) override;
  std::vector<MailboxFigures> MailboxesSince(int64_t time) override;
  std::vector<VerdictRecord> Latest(int limit, int64_t before_id = 0) override;
  std::optional<VerdictRecord> Find(int64_t id) override;
  std::vector<VerdictRecord> Search(const VerdictQuery& query) override;
  int64_t RecordCount() override;
  Counters AllTime() override;
  AlertFigures ForAlerts() override;
  // Each action names the server whose dashboard took it.
  void RecordAction(const AuditedAction& action) override;
  std::vector<AuditedAction> ActionsOn(int64_t record_id) override;

 private:
  postgres::Connection& Db();
  void AddOne(const VerdictRecord& record, int64_t* id);
  void Count(int64_t time, const std::string& mailbox, const std::string& column);
  void AddCounter(const std::string& name, double amount);
  bool HasActionsTable();

  std::string conninfo_;
  std::string server_;
  std::unique_ptr<postgres::Connection> db_;
};

}  // namespace varnolt::journal
