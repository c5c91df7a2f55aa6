// `show` and `cat`: one record's properties, an item's content.
#include <filesystem>
#include <iostream>

#include "backends/mailstore/store_errors.h"
#include "platform/names/data_layout.h"
#include "platform/text_files.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"
#include "varnolt/file_io.h"
#include "varnolt/item_reference.h"
#include "varnolt/json_output.h"
#include "varnolt/store_lookup.h"
#include "varnolt/text_table.h"

namespace varnolt::cli {
namespace {

std::string PlainValue(const Variant& value) {
  switch (value.kind()) {
    case Variant::Kind::kEmpty:
      return "(empty)";
    case Variant::Kind::kBool:
      return value.AsBool() ? "true" : "false";
    case Variant::Kind::kText:
      return OneLine(value.AsText());
    default:
      return value.ToText();
  }
}

void RunShow(Session& session, const std::string& reference, bool json) {
  const std::string url = ResolveItemReference(session.Store(), reference);
  const RecordView record = DescribeExisting(session.Store(), url);
  if (json) {
    Json properties = Json::object();
    for (const auto& [name, value] : record.properties) properties[name] = JsonValue(value);
    std::cout << JsonText(
        {{"url", record.url}, {"parent", record.parent}, {"is_folder", record.is_folder}, {"properties", properties}});
    return;
  }
  std::cout << "url: " << record.url << "\nparent: " << record.parent
            << "\nis_folder: " << (record.is_folder ? "true" : "false") << "\nproperties:\n";
  for (const auto& [name, value] : record.properties) std::cout << "  " << name << " = " << PlainValue(value) << '\n';
}

void RunCat(Session& session, const std::string& reference) {
  const std::string url = ResolveItemReference(session.Store(), reference);
  try {
    WriteStandardOutput(session.Store().ReadContent(url));
  } catch (const ComError& error) {
    if (error.number() == kStoreNotFound || error.number() == kStoreInvalidUrl) {
      throw hosting::CommandError("nothing at " + url);
    }
    if (error.number() == kStoreNotAnItem) throw hosting::CommandError(url + " is a folder, not an item");
    throw;
  }
}

}  // namespace

void AddShowCommands(CLI::App& app, Session& session) {
  auto show_url = std::make_shared<std::string>();
  auto show_json = std::make_shared<bool>(false);
  CLI::App* show = app.add_subcommand("show", "One item or folder with every stored and derived property");
  show->add_option("ITEM", *show_url, std::string(kItemReferenceHelp) + "; or a folder's URL")->required();
  show->add_flag("--json", *show_json, "{url, parent, is_folder, properties: {name: value}}");
  show->callback([&session, show_url, show_json] { RunShow(session, *show_url, *show_json); });

  auto cat_url = std::make_shared<std::string>();
  CLI::App* cat = app.add_subcommand("cat", "An item's content, byte for byte");
  cat->add_option("ITEM", *cat_url, kItemReferenceHelp)->required();
  cat->callback([&session, cat_url] { RunCat(session, *cat_url); });
}

}  // namespace varnolt::cli
