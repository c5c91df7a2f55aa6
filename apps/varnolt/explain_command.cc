// `explain`: why the filter judges a stored message as it does.
#include <iostream>

#include "varnolt/commands.h"
#include "varnolt/item_explanation.h"
#include "varnolt/item_reference.h"
#include "varnolt/store_lookup.h"

namespace varnolt::cli {
namespace {

struct ExplainOptions {
  std::string item;
  size_t clues = 15;
  bool json = false;
};

void RunExplain(Session& session, const ExplainOptions& options) {
  const std::string url = ResolveItemReference(session.Store(), options.item);
  const RecordView item = DescribeExisting(session.Store(), url);
  if (item.is_folder) throw hosting::CommandError(url + " is a folder; only messages can be explained");
  const ItemExplanation explanation = ExplainItem(session, url, options.clues);
  if (options.json) {
    std::cout << JsonText(ExplanationJson(explanation));
  } else {
    std::cout << ExplanationText(explanation);
  }
}

}  // namespace

void AddExplainCommand(CLI::App& app, Session& session) {
  auto options = std::make_shared<ExplainOptions>();
  CLI::App* explain = app.add_subcommand(
      "explain", "Why the filter judges a message as it does: the internal-sender rule, the whitelist, or the "
                 "engine's score with its strongest clues (direction, weight, model)");
  explain->add_option("ITEM", options->item, kItemReferenceHelp)->required();
  explain->add_option("--clues", options->clues, "How many of the strongest clues to show")->capture_default_str();
  explain->add_flag("--json", options->json,
                    "{url, mailbox, marker, decided_by, sender, score, verdict, threshold, gtube, learned, tokens, "
                    "clue_count, models, clues: [{token, direction, probability, weight, ham, spam, model}], engine: {rule, "
                    "counts, counts_weight, linear, linear_weight, mix, linear_bias, linear_log_odds, linear_keys, "
                    "correction, features: [{tokens, key, direction, weight, contribution}]}}");
  explain->callback([&session, options] { RunExplain(session, *options); });
}

}  // namespace varnolt::cli
