#include "dashboard/mailbox_view.h"

#include <algorithm>
#include <filesystem>

#include "backends/system/posix_text_files.h"
#include "hosting/command_error.h"
#include "platform/names/data_layout.h"
#include "platform/text_files.h"
#include "trust/whitelist.h"
#include "varnolt/cli_errors.h"
#include "varnolt/domain_model_target.h"
#include "varnolt/known_mailbox.h"

namespace varnolt::dashboard {
namespace {

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return text;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

ModelFigures ModelOf(cli::Session& session, const std::string& path) {
  ModelFigures figures;
  try {
    figures.counts = session.Engine().GetCounts(path);
  } catch (const std::exception&) {
    // Unreadable shows as empty, as on the main page; the filter's log says why.
  }
  if (session.Config().engine_store == hosting::kFileModelStore) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(ToFileSystemPath(path), error);
    if (!error) figures.bytes = static_cast<int64_t>(bytes);
  }
  return figures;
}

// A page of the search, one more record asked for to tell whether another page follows.
VerdictPage SearchPage(DashboardSource& source, journal::VerdictQuery query) {
  VerdictPage page;
  page.query = query;
  journal::Journal* journal = source.Journal();
  if (!journal) return page;
  const int limit = query.limit;
  query.limit = limit + 1;
  page.records = journal->Search(query);
  page.more = page.records.size() > static_cast<size_t>(limit);
  if (page.more) page.records.pop_back();
  return page;
}

bool InJournal(DashboardSource& source, journal::VerdictQuery query) {
  query.limit = 1;
  journal::Journal* journal = source.Journal();
  return journal && !journal->Search(query).empty();
}

std::vector<MailboxRow> Slice(std::vector<MailboxRow> rows, int64_t offset) {
  const auto start = std::min<size_t>(rows.size(), static_cast<size_t>(offset));
  const auto end = std::min<size_t>(rows.size(), start + kMailboxesPerPage);
  return {std::make_move_iterator(rows.begin() + static_cast<ptrdiff_t>(start)),
          std::make_move_iterator(rows.begin() + static_cast<ptrdiff_t>(end))};
}

}  // namespace

std::optional<MailboxView> ReadMailboxView(cli::Session& session, DashboardSource& source, const std::string& text,
                                           TimeRange range, journal::VerdictQuery query, int64_t now) {
  MailboxView view;
  view.range = range;
  cli::MailboxAddress address = cli::ParseMailboxAddress(text);
  try {
    address = cli::KnownMailbox(session, text);
    view.in_store = true;
  } catch (const hosting::CommandError&) {
    // Removed since, or never here: the journal may still remember it.
    journal::VerdictQuery any;
    any.mailbox = address.Text();
    if (!InJournal(source, any)) return std::nullopt;
  }
  view.mailbox = LowerCase(address.Text());
  view.domain = LowerCase(address.domain);
  if (journal::Journal* journal = source.Journal()) {
    for (const journal::MailboxFigures& figures : journal->MailboxesSince(RangeStart(range, now))) {
      if (figures.mailbox == view.mailbox) view.totals = figures.totals;
    }
    journal::VerdictQuery corrections;
    corrections.mailbox = view.mailbox;
    corrections.corrected = true;
    corrections.limit = kCorrectionsShown;
    view.corrections = journal->Search(corrections);
  }
  const std::string data_folder = session.DataFolder();
  if (!data_folder.empty()) {
    const std::string dat_path = UserDatabasePath(data_folder, address.domain, address.user);
    view.model = ModelOf(session, dat_path);
    view.domain_model = ModelOf(session, DomainModelPathBeside(dat_path));
    PosixTextFiles files;
    try {
      view.whitelist = ReadWhiteList(files, dat_path);
    } catch (const ComError& error) {
      view.whitelist_error = error.description();
    }
  }
  query.mailbox = view.mailbox;
  view.verdicts = SearchPage(source, query);
  return view;
}

std::optional<DomainView> ReadDomainView(cli::Session& session, DashboardSource& source, const std::string& text,
                                         TimeRange range, journal::VerdictQuery query, int64_t offset, int64_t now) {
  DomainView view;
  view.range = range;
  view.offset = offset;
  // The name checked as a mailbox's domain would be: it names a folder below the data folder.
  try {
    view.domain = LowerCase(cli::ParseMailboxAddress("postmaster@" + text).domain);
  } catch (const cli::UsageError&) {
    throw cli::UsageError("'" + text + "' is not a name a mail domain could have");
  }
  std::optional<cli::DomainModelTarget> target;
  try {
    target = cli::DomainModelOf(session, text);
  } catch (const hosting::CommandError&) {
    // No data folder: no models, the journal's figures alone.
  }
  std::vector<MailboxRow> rows = source.Mailboxes(now, false, RangeStart(range, now));
  std::erase_if(rows, [&view](const MailboxRow& row) { return !EndsWith(row.mailbox, "@" + view.domain); });
  std::error_code ignored;
  const bool has_folder =
      target && std::filesystem::is_directory(ToFileSystemPath(DomainDirectory(session.DataFolder(), target->domain)),
                                              ignored);
  journal::VerdictQuery any;
  any.domain = view.domain;
  if (rows.empty() && !has_folder && !InJournal(source, any)) return std::nullopt;
  for (const MailboxRow& row : rows) AddTotals(view.totals, row.totals);
  view.mailbox_count = static_cast<int64_t>(rows.size());
  view.mailboxes = Slice(std::move(rows), offset);
  source.AddModels(view.mailboxes);
  if (target) {
    view.model = ModelOf(session, target->model_path);
    try {
      view.waiting = session.Engine().WaitingLessons(target->model_path);
    } catch (const std::exception&) {
      // As for the counts: an unreadable model shows as empty.
    }
  }
  query.domain = view.domain;
  view.verdicts = SearchPage(source, query);
  return view;
}

MailboxList ReadMailboxList(DashboardSource& source, int64_t offset, int64_t now) {
  MailboxList list;
  list.offset = offset;
  std::vector<MailboxRow> rows = source.Mailboxes(now, false);
  list.mailbox_count = static_cast<int64_t>(rows.size());
  list.mailboxes = Slice(std::move(rows), offset);
  source.AddModels(list.mailboxes);
  return list;
}

}  // namespace varnolt::dashboard
