// `ls`: the items of a folder with their markers, or a mailbox's folder tree.
#include <cstdio>
#include <ctime>
#include <iostream>

#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/json_output.h"
#include "varnolt/store_lookup.h"
#include "varnolt/text_table.h"

namespace varnolt::cli {
namespace {

struct ListOptions {
  std::string mailbox;
  std::string folder;
  bool all = false;
  bool json = false;
  bool folders = false;
};

std::string MarkerText(const std::optional<int32_t>& marker) {
  if (!marker) return "-";
  if (*marker == 1) return "1 HAM";
  if (*marker == 2) return "2 SPAM";
  return std::to_string(*marker);
}

// Local time to the minute; "-" for a message without a readable Date header.
std::string DateText(const std::optional<int64_t>& seconds) {
  if (!seconds) return "-";
  const time_t time = static_cast<time_t>(*seconds);
  struct tm local {};
  char text[32];
  if (!localtime_r(&time, &local) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0) return "-";
  return text;
}

// Bytes below 10 kB, then kB and MB with one decimal.
std::string SizeText(int64_t bytes) {
  if (bytes < 10 * 1024) return std::to_string(bytes);
  char text[32];
  const double kilo = static_cast<double>(bytes) / 1024;
  if (kilo < 1024) {
    std::snprintf(text, sizeof text, "%.1fK", kilo);
  } else {
    std::snprintf(text, sizeof text, "%.1fM", kilo / 1024);
  }
  return text;
}

void ListItems(MailStore& store, const std::string& folder_url, const ListOptions& options) {
  std::vector<ItemSummary> items = store.ListItems(folder_url);
  if (!options.all) std::erase_if(items, [](const ItemSummary& item) { return item.hidden; });
  if (options.json) {
    Json array = Json::array();
    for (const ItemSummary& item : items) {
      array.push_back({{"url", item.url},
                       {"name", item.name},
                       {"subject", item.subject},
                       {"from", item.from},
                       {"marker", item.marker ? Json(*item.marker) : Json(nullptr)},
                       {"hidden", item.hidden}});
    }
    std::cout << JsonText(array);
    return;
  }
  if (items.empty()) return;
  // The number names the item in move, show, cat and event.
  std::vector<std::vector<std::string>> rows{{"#", "DATE", "SIZE", "NAME", "MARKER", "HIDDEN", "SUBJECT", "FROM"}};
  for (const ItemSummary& item : items) {
    rows.push_back({std::to_string(item.id), DateText(item.date), SizeText(item.size), OneLine(item.name), MarkerText(item.marker), item.hidden ? "yes" : "no", OneLine(item.subject),
                    OneLine(item.from)});
  }
  std::cout << AlignColumns(rows);
}

void ListFolders(MailStore& store, const MailboxAddress& mailbox, bool json) {
  const std::vector<FolderSummary> folders = store.ListFolders(mailbox.domain, mailbox.user);
  if (json) {
    Json array = Json::array();
    for (const FolderSummary& folder : folders) {
      array.push_back({{"url", folder.url}, {"path", folder.path}, {"items", folder.item_count}});
    }
    std::cout << JsonText(array);
    return;
  }
  for (const FolderSummary& folder : folders) {
    const size_t slash = folder.path.rfind('/');
    const std::string name = slash == std::string::npos ? folder.path : folder.path.substr(slash + 1);
    std::cout << std::string(2 * static_cast<size_t>(folder.depth), ' ') << OneLine(name) << " ("
              << folder.item_count << ")\n";
  }
}

void RunList(Session& session, const ListOptions& options) {
  const MailboxAddress mailbox = ParseMailboxAddress(options.mailbox);
  MailStore& store = session.Store();
  if (options.folders) {
    if (!options.folder.empty()) throw UsageError("--folders lists the whole tree; it takes no FOLDER_PATH");
    RequireMailbox(store, mailbox);
    ListFolders(store, mailbox, options.json);
    return;
  }
  const std::string folder = options.folder.empty() ? "Inbox" : options.folder;
  ListItems(store, FolderOfMailbox(store, mailbox, folder, /*must_exist=*/true), options);
}

}  // namespace

void AddListCommand(CLI::App& app, Session& session) {
  auto options = std::make_shared<ListOptions>();
  CLI::App* ls = app.add_subcommand(
      "ls", "The items of a folder (default Inbox): number, date, size, name, marker, hidden, subject, sender; "
      "or the folder tree. The number names the item in move, show, cat and event");
  ls->add_option("USER@DOMAIN", options->mailbox, "The mailbox")->required();
  ls->add_option("FOLDER_PATH", options->folder, "The folder, like \"Junk E-Mail\" or Inbox/Sub");
  ls->add_flag("--all", options->all, "Include hidden items");
  ls->add_flag("--json", options->json,
               "A JSON array of {url, name, subject, from, marker, hidden} (marker null when none)");
  ls->add_flag("--folders", options->folders, "The mailbox's folder tree with item counts");
  ls->callback([&session, options] { RunList(session, *options); });
}

}  // namespace varnolt::cli
