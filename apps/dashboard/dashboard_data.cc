#include "dashboard/dashboard_data.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "backends/system/posix_text_files.h"
#include "hosting/journal_opening.h"
#include "hosting/registry_values.h"
#include "platform/names/data_layout.h"
#include "trust/whitelist.h"
#include "varnolt/known_settings.h"
#include "varnolt/setting_descriptions.h"

namespace varnolt::dashboard {
namespace {

constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 24 * kHour;
// The main page's mailbox table: 10,000 rows made a page of megabytes.
constexpr size_t kMailboxesOnPage = 100;

int64_t WhitelistEntries(const std::string& dat_path) {
  PosixTextFiles files;
  try {
    return static_cast<int64_t>(ReadWhiteList(files, dat_path).size());
  } catch (const ComError&) {
    return 0;  // an unreadable whitelist shows as empty on the dashboard
  }
}

}  // namespace

double ErrorRate(const journal::Totals& totals) {
  return totals.Verdicts() == 0 ? 0.0
                                : static_cast<double>(totals.Corrections()) / static_cast<double>(totals.Verdicts());
}

journal::Journal* DashboardSource::Journal() {
  if (!journal_) {
    if (!hosting::JournalMayExist(session_.Config())) return nullptr;
    journal_ = hosting::OpenJournal(session_.Config(), true);
  }
  return journal_.get();
}

std::vector<MailboxRow> DashboardSource::Mailboxes(int64_t now, bool with_models, std::optional<int64_t> since) {
  std::map<std::string, MailboxRow> rows;
  try {
    for (const MailboxName& name : session_.LookupStore().ListMailboxes()) {
      const std::string mailbox = journal::LowerAscii(name.user + "@" + name.domain);
      rows[mailbox].mailbox = mailbox;
    }
  } catch (const std::exception&) {
    // Without a readable store the journal still names the mailboxes it served.
  }
  if (journal::Journal* journal = Journal()) {
    for (const journal::MailboxFigures& figures : journal->MailboxesSince(since.value_or(now - 30 * kDay))) {
      MailboxRow& row = rows[figures.mailbox];
      row.mailbox = figures.mailbox;
      row.totals = figures.totals;
    }
  }
  std::vector<MailboxRow> result;
  result.reserve(rows.size());
  for (auto& [name, row] : rows) result.push_back(std::move(row));
  if (with_models) AddModels(result);
  return result;
}

void DashboardSource::AddModels(std::vector<MailboxRow>& rows) {
  const std::string data_folder = session_.DataFolder();
  if (data_folder.empty()) return;
  for (MailboxRow& row : rows) {
    const size_t at = row.mailbox.rfind('@');
    if (at == std::string::npos) continue;
    try {
      const std::string dat_path = UserDatabasePath(data_folder, row.mailbox.substr(at + 1), row.mailbox.substr(0, at));
      row.model = session_.Engine().GetCounts(dat_path);
      row.whitelist = WhitelistEntries(dat_path);
    } catch (const std::exception&) {
      // A model the engine cannot read shows as empty; the log of the filter says why.
    }
  }
}

std::optional<journal::VerdictRecord> DashboardSource::Find(int64_t id) {
  journal::Journal* journal = Journal();
  return journal ? journal->Find(id) : std::nullopt;
}

std::vector<DomainModelRow> DashboardSource::DomainModels(const std::vector<MailboxRow>& mailboxes) {
  std::set<std::string> domains;
  for (const MailboxRow& row : mailboxes) {
    const size_t at = row.mailbox.rfind('@');
    if (at != std::string::npos) domains.insert(row.mailbox.substr(at + 1));
  }
  const std::string data_folder = session_.DataFolder();
  std::vector<DomainModelRow> result;
  if (data_folder.empty()) return result;
  for (const std::string& domain : domains) {
    DomainModelRow row{domain, {}};
    try {
      row.model = session_.Engine().GetCounts(DomainModelPath(data_folder, domain));
    } catch (const std::exception&) {
      // As for a user's model: unreadable shows as empty, the filter's log says why.
    }
    result.push_back(std::move(row));
  }
  return result;
}

DashboardData DashboardSource::Collect(int64_t now, int latest, const journal::VerdictQuery& filters,
                                       TimeRange range) {
  DashboardData data;
  data.now = now;
  data.range = range;
  data.filters = filters;
  data.latest_before = filters.before_id;
  const int64_t this_hour = now / kHour;
  const int64_t today = now / kDay;
  for (int64_t h = this_hour - 47; h <= this_hour; ++h) data.hours.push_back({h, {}});
  for (int64_t d = today - 29; d <= today; ++d) data.days.push_back({d, {}});
  data.buckets = BucketHours({}, range, now);  // empty bars without a journal
  if (journal::Journal* journal = Journal()) {
    data.journal_found = true;
    data.records = journal->RecordCount();
    const std::vector<journal::HourFigures> hours =
        journal->HoursSince(std::min(RangeStart(range, now), (today - 29) * kDay));
    data.buckets = BucketHours(hours, range, now);
    for (const journal::HourFigures& hour : hours) {
      const int64_t day = hour.hour / 24;
      if (day >= today - 29 && day <= today) AddTotals(data.days[static_cast<size_t>(day - (today - 29))].totals, hour.totals);
      if (day == today) AddTotals(data.today, hour.totals);
      if (day > today - 7) AddTotals(data.week, hour.totals);
      AddTotals(data.month, hour.totals);
      if (hour.hour >= this_hour - 47 && hour.hour <= this_hour) {
        data.hours[static_cast<size_t>(hour.hour - (this_hour - 47))].totals = hour.totals;
      }
    }
    if (latest > 0) {
      journal::VerdictQuery page = filters;
      page.limit = latest + 1;  // one more tells whether a next page exists
      data.latest = journal->Search(page);
      data.more_latest = data.latest.size() > static_cast<size_t>(latest);
      if (data.more_latest) data.latest.pop_back();
    }
  }
  data.mailboxes = Mailboxes(now, false);
  data.mailbox_count = static_cast<int64_t>(data.mailboxes.size());
  if (data.mailboxes.size() > kMailboxesOnPage) {
    auto eventful = [](const MailboxRow& a, const MailboxRow& b) {
      if (a.totals.Corrections() != b.totals.Corrections()) return a.totals.Corrections() > b.totals.Corrections();
      if (a.totals.Verdicts() != b.totals.Verdicts()) return a.totals.Verdicts() > b.totals.Verdicts();
      return a.mailbox < b.mailbox;
    };
    std::partial_sort(data.mailboxes.begin(), data.mailboxes.begin() + kMailboxesOnPage, data.mailboxes.end(),
                      eventful);
    data.mailboxes.resize(kMailboxesOnPage);
    std::sort(data.mailboxes.begin(), data.mailboxes.end(),
              [](const MailboxRow& a, const MailboxRow& b) { return a.mailbox < b.mailbox; });
  }
  AddModels(data.mailboxes);
  for (const cli::SettingDescription& description : cli::SettingDescriptions()) {
    SettingRow row{description.name, "", description.allowed, description.summary};
    try {
      const auto value =
          hosting::QueryValue(session_.GetPlatform().Reg(), HKEY_LOCAL_MACHINE, kSettingsKey, description.name);
      if (value) {
        row.value = hosting::DisplayText(*value);
      } else {
        for (const cli::KnownSetting& known : cli::KnownSettings()) {
          if (std::string(known.name) == description.name)
            row.value = "(unset: " + hosting::DisplayText(known.default_value) + ")";
        }
      }
    } catch (const std::exception& error) {
      row.value = std::string("(unreadable: ") + error.what() + ")";
    }
    data.settings.push_back(std::move(row));
  }
  const hosting::HomeConfig& config = session_.Config();
  data.settings.push_back({"[journal] keep_days", std::to_string(config.journal_keep_days), "days; 0: no journal",
                           "How long the verdict journal keeps its records (varnolt.conf)"});
  data.settings.push_back({"[journal] subjects", config.journal_subjects ? "on" : "off", "on or off",
                           "Whether the journal keeps the subjects of the messages (varnolt.conf)"});
  data.settings.push_back({"[journal] store", config.journal_store, "file or postgresql",
                           "Where the verdict journal lives: the home's file, or the models' PostgreSQL that every "
                           "server's dashboard reads (varnolt.conf)"});
  data.settings.push_back({"[journal] server", config.journal_server, "a name",
                           "The name this server's journal records carry (varnolt.conf)"});
  data.settings.push_back({"[engine] autolearn", config.engine_auto_learn ? "on" : "off", "on or off",
                           "Whether the engine also learns from its own clear verdicts (varnolt.conf)"});
  data.settings.push_back({"[engine] domain_learning", config.engine_domain_learning ? "on" : "off", "on or off",
                           "Whether users' corrections and trusted mail also teach their domain's shared model "
                           "(varnolt.conf)"});
  data.settings.push_back({"[engine] domain_consensus", std::to_string(config.engine_domain_consensus), "users; 1 or more",
                           "How many users must agree on a message before their lessons teach the domain's shared "
                           "model (varnolt.conf)"});
  data.settings.push_back({"[engine] store", config.engine_store, "file or postgresql",
                           "Where the spam models live: a file per model, or a shared PostgreSQL (varnolt.conf)"});
  return data;
}

}  // namespace varnolt::dashboard
