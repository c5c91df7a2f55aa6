#include "varnolt/item_explanation.h"

#include <cstdio>
#include <sstream>

#include "config/settings.h"
#include "diagnostics/reporter.h"
#include "platform/names/data_layout.h"
#include "store/mail_marker.h"
#include "triage/new_mail_decision.h"
#include "trust/message_readers.h"
#include "varnolt/cli_errors.h"
#include "varnolt/mailbox_address.h"

namespace varnolt::cli {
namespace {

// A dry run reports nothing: the reasons the filter would log are not explain's to write.
class SilentReporter final : public Reporter {
 public:
  void LogLine(const std::string&) override {}
  void LogError(const std::string&, int32_t, const std::string&) override {}
};

std::string Fixed(double value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

}  // namespace

std::string ModelsText(const ItemExplanation& explanation) {
  const engine::ScoreExplanation& score = explanation.score;
  std::string text = "models: " + explanation.mailbox + "'s own (" + std::to_string(score.learned.ham) + " HAM, " +
                     std::to_string(score.learned.spam) + " SPAM learned)";
  const size_t at = explanation.mailbox.rfind('@');
  const std::string domain = at == std::string::npos ? "" : explanation.mailbox.substr(at + 1);
  if (!score.domain_model) return text + "; " + domain + " has no shared model";
  return text + " and " + domain + "'s shared model (" + std::to_string(score.domain_learned.ham) + " HAM, " +
         std::to_string(score.domain_learned.spam) + " SPAM), the user's counts weighted " +
         std::to_string(score.user_weight) + " times";
}

ItemExplanation ExplainItem(Session& session, const std::string& url, size_t max_clues) {
  ItemExplanation explanation;
  explanation.url = session.LookupStore().Describe(url).url;
  const MailboxAddress mailbox = MailboxOfUrl(explanation.url);
  explanation.mailbox = mailbox.Text();
  const std::string data_folder = session.DataFolder();
  if (data_folder.empty()) throw hosting::CommandError("the constructor string is empty, so there is no data folder");
  const std::string dat_path = UserDatabasePath(data_folder, mailbox.domain, mailbox.user);

  // The filter's own readers and trust rule over the stored item, reporting
  // and writing nothing; the settings as the filter reads them (a missing one is 0).
  std::shared_ptr<Connection> connection = session.LookupStore().Connect();
  std::unique_ptr<Record> record = connection->CreateRecord();
  record->Open(explanation.url, *connection, ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists,
               RecordOpenOptions::kUnspecified);
  SilentReporter silent;
  const int32_t marker = GetMailMarker(silent, *record);
  explanation.marker = marker == kMarkerHam ? "HAM" : marker == kMarkerSpam ? "SPAM" : "";
  const int32_t use_white_list = ReadRegistrySetting(session.GetPlatform().Reg(), "UseWhiteList").ToInt32();
  const TrustAnswer trust = WhoDecides(silent, session.GetPlatform().Files(), *record, dat_path, use_white_list);
  explanation.decided_by = DecidedByName(trust.decided_by);
  explanation.sender = trust.sender.empty() ? GetSenderAddress(silent, *record) : trust.sender;
  const std::string headers = GetTransportHeaders(*record);
  const std::string body = GetBodyText(*record);
  explanation.score =
      engine::ExplainScore(hosting::EngineOptionsOf(session.Config()), dat_path, headers, body, max_clues);
  explanation.models = explanation.score.domain_model ? "user+domain" : "user";
  return explanation;
}

// How the engine's score is made, with what reproduces it.
Json EngineJson(const engine::ScoreExplanation& score) {
  Json features = Json::array();
  for (const engine::Feature& feature : score.features) {
    features.push_back({{"tokens", feature.tokens},
                        {"key", feature.key},
                        {"direction", feature.ToSpam() ? "spam" : "ham"},
                        {"weight", feature.weight},
                        {"contribution", feature.contribution}});
  }
  Json correction = nullptr;
  if (score.correction) {
    correction = {{"verdict", score.correction->is_spam ? "SPAM" : "HAM"},
                  {"exact", score.correction->exact},
                  {"similarity", score.correction->similarity}};
  }
  return {{"rule", ScoreRuleName(score.rule)},
          {"counts", score.counts},
          {"counts_weight", 1 - score.linear_weight},
          {"linear", score.linear ? Json(*score.linear) : Json(nullptr)},
          {"linear_weight", score.linear_weight},
          {"mix", score.linear ? Json(score.linear_weight * *score.linear + (1 - score.linear_weight) * score.counts)
                               : Json(score.counts)},
          {"linear_bias", score.linear_bias},
          {"linear_log_odds", score.linear_log_odds},
          {"linear_keys", score.linear_keys},
          {"correction", correction},
          {"features", features}};
}

// The engine's rule and the parts of its score, a line each.
std::string EngineText(const engine::ScoreExplanation& score) {
  std::ostringstream out;
  switch (score.rule) {
    case ScoreRule::kCorrection:
      out << "engine rule: the user's correction: " << (score.correction->exact ? "this message" : "a near-duplicate")
          << " was moved to " << (score.correction->is_spam ? "SPAM" : "HAM")
          << (score.correction->exact ? "" : " (" + Fixed(score.correction->similarity * 100, 0) + "% of its keys shared)")
          << "; judged as the user said\n";
      break;
    case ScoreRule::kTooLittleEvidence:
      out << "engine rule: too little evidence (fewer than ten messages of a class): the middle score\n";
      break;
    case ScoreRule::kNearSpamDuplicate:
      out << "engine rule: too little evidence, but nearly the same as spam taught: SPAM\n";
      break;
    default:
      break;
  }
  if (score.linear) {
    out << "score parts: " << Fixed(1 - score.linear_weight, 1) << " x counts " << Fixed(score.counts, 4) << " + "
        << Fixed(score.linear_weight, 1) << " x linear " << Fixed(*score.linear, 4) << " = "
        << Fixed((1 - score.linear_weight) * score.counts + score.linear_weight * *score.linear, 4)
        << " (linear: log-odds " << Fixed(score.linear_log_odds, 3) << " = bias " << Fixed(score.linear_bias, 3)
        << " + " << score.linear_keys << " keys)\n";
  } else if (score.rule == ScoreRule::kScore) {
    out << "score parts: counts " << Fixed(score.counts, 4) << " alone (no linear fit yet)\n";
  }
  if (!score.features.empty()) {
    out << "the fit's strongest features:\n";
    out << "  direction  log-odds  token\n";
    for (const engine::Feature& feature : score.features) {
      char line[64];
      std::snprintf(line, sizeof line, "  %-9s  %+.4f   ", feature.ToSpam() ? "SPAM" : "HAM", feature.contribution);
      out << line << feature.tokens << '\n';
    }
  }
  return out.str();
}

Json ExplanationJson(const ItemExplanation& explanation) {
  Json clues = Json::array();
  for (const engine::Clue& clue : explanation.score.clues) {
    clues.push_back({{"token", clue.token},
                     {"direction", clue.ToSpam() ? "spam" : "ham"},
                     {"probability", clue.probability},
                     {"weight", clue.Weight()},
                     {"ham", clue.ham},
                     {"spam", clue.spam},
                     {"domain_ham", clue.domain_ham},
                     {"domain_spam", clue.domain_spam},
                     {"model", clue.model}});
  }
  return {{"url", explanation.url},
          {"mailbox", explanation.mailbox},
          {"marker", explanation.marker.empty() ? Json(nullptr) : Json(explanation.marker)},
          {"decided_by", explanation.decided_by},
          {"sender", explanation.sender},
          {"score", explanation.score.spamminess},
          {"verdict", explanation.score.is_spam ? "SPAM" : "HAM"},
          {"threshold", explanation.score.threshold},
          {"gtube", explanation.score.gtube},
          {"learned", {{"ham", explanation.score.learned.ham}, {"spam", explanation.score.learned.spam}}},
          {"domain_learned", explanation.score.domain_model
                                 ? Json{{"ham", explanation.score.domain_learned.ham},
                                        {"spam", explanation.score.domain_learned.spam}}
                                 : Json(nullptr)},
          {"user_weight", explanation.score.user_weight},
          {"thin", explanation.score.thin},
          {"tokens", explanation.score.tokens},
          {"clue_count", explanation.score.clue_count},
          {"models", explanation.models},
          {"clues", clues},
          {"engine", EngineJson(explanation.score)}};
}

std::string ExplanationText(const ItemExplanation& explanation) {
  std::ostringstream out;
  const engine::ScoreExplanation& score = explanation.score;
  out << explanation.url << '\n';
  out << "marker now: " << (explanation.marker.empty() ? "none" : explanation.marker) << '\n';
  if (explanation.decided_by == "internal") {
    out << "decided by: the internal-sender rule (submitted inside the organisation: address type EX, no "
           "transport headers); HAM without asking the engine\n";
  } else if (explanation.decided_by == "whitelist") {
    out << "decided by: the whitelist (" << explanation.sender << " is on " << explanation.mailbox
        << "'s whitelist); HAM without asking the engine\n";
  } else {
    out << "decided by: the engine\n";
  }
  out << (explanation.decided_by == "engine" ? "score: " : "the engine would say: ") << Fixed(score.spamminess, 4)
      << " (" << (score.is_spam ? "SPAM" : "HAM") << ", SPAM above " << Fixed(score.threshold, 3) << ")\n";
  if (score.gtube) out << "the message holds the GTUBE test string: SPAM whatever the model says\n";
  out << ModelsText(explanation) << '\n';
  if (score.thin) out << "the models hold too little of one class: the engine answers a middle score\n";
  out << EngineText(score);
  out << score.tokens << " distinct tokens, " << score.clue_count << " clues";
  if (score.clues.empty()) {
    out << '\n';
    return out.str();
  }
  out << "; the strongest:\n";
  out << "  direction  weight  prob    ham  spam  domain ham/spam  model        token\n";
  for (const engine::Clue& clue : score.clues) {
    char line[128];
    std::snprintf(line, sizeof line, "  %-9s  %.3f   %.4f %4u %5u  %6u/%-8u  %-11s  ", clue.ToSpam() ? "SPAM" : "HAM",
                  clue.Weight(), clue.probability, clue.ham, clue.spam, clue.domain_ham, clue.domain_spam,
                  clue.model.c_str());
    out << line << clue.token << '\n';
  }
  return out.str();
}

}  // namespace varnolt::cli
