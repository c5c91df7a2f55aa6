#include "varnolt/deliver_report.h"

#include <strings.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "varnolt/mailbox_address.h"

namespace varnolt::cli {
namespace {

std::string VerdictText(const std::optional<int32_t>& marker) {
  if (!marker) return "UNJUDGED";
  if (*marker == 1) return "HAM";
  if (*marker == 2) return "SPAM";
  return "MARKER-" + std::to_string(*marker);
}

std::string ParentOf(const std::string& url) { return url.substr(0, url.rfind('/')); }

}  // namespace

DeliveryReport::DeliveryReport(Session& session, const std::string& folder_url, DeliverOutput output)
    : session_(session), output_(output) {
  folder_url_ = session.Store().Describe(folder_url).url;
  mailbox_ = MailboxOfUrl(folder_url_).Text();
}

void DeliveryReport::ExplainMissingVerdict(const std::string& file, const SaveVerdict* verdict) {
  std::cerr << "varnolt: " << file << ": the filter left the message without a verdict";
  if (verdict && !verdict->errors.empty()) {
    std::cerr << "; its log says:";
    for (const std::string& error : verdict->errors) std::cerr << "\n  " << error;
    std::cerr << '\n';
  } else if (verdict && verdict->left == LeftBecause::kProviderMode) {
    std::cerr << " (ProviderMode is on and the user has no spam database nor a .create file: "
                 "the filter leaves this user's mail alone)\n";
  } else {
    std::cerr << " (its log gives no reason)\n";
  }
}

void DeliveryReport::Deliver(const std::string& file, const std::string& bytes,
                             const std::function<std::string()>& deliver) {
  session_.LastVerdict().reset();
  const auto started = std::chrono::steady_clock::now();
  const std::string url = deliver();
  const auto elapsed = std::chrono::steady_clock::now() - started;
  // Nothing after the delivery may fail the command: a transfer agent would
  // deliver the message again.
  const SaveVerdict verdict = session_.LastVerdict().value_or(SaveVerdict{});
  const std::optional<int32_t>& marker = verdict.marker;
  std::optional<double> score;
  if (verdict.score) score = verdict.score->spamminess;
  Journal(url, bytes, verdict, std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
  switch (output_) {
    case DeliverOutput::kUrls:
      // An empty line when the filter removed the item keeps one line per message.
      std::cout << url << '\n';
      break;
    case DeliverOutput::kVerdicts: {
      char score_text[16] = "-";
      if (score) std::snprintf(score_text, sizeof score_text, "%.4f", *score);
      std::cout << VerdictText(marker) << ' ' << score_text << ' ' << (url.empty() ? "(removed by the filter)" : url);
      if (marker == 2 && strcasecmp(ParentOf(url).c_str(), folder_url_.c_str()) == 0) {
        std::cout << "  (left here: no junk folder could be used)";
      }
      std::cout << '\n';
      break;
    }
    case DeliverOutput::kJson:
      results_.push_back({{"file", file},
                          {"url", url.empty() ? Json(nullptr) : Json(url)},
                          {"marker", marker ? Json(*marker) : Json(nullptr)},
                          {"score", score ? Json(*score) : Json(nullptr)}});
      break;
  }
  if (!marker && !url.empty()) {
    std::cout.flush();  // the message's own line first
    ExplainMissingVerdict(file, session_.LastVerdict() ? &verdict : nullptr);
  }
}

void DeliveryReport::Journal(const std::string& url, const std::string& bytes, const SaveVerdict& verdict,
                             int64_t elapsed_us) noexcept {
  try {
    hosting::JournalWriter& journal = session_.Journal();
    if (!journal.enabled()) return;
    hosting::JudgedMessage message;
    message.mailbox = mailbox_;
    message.content = bytes;
    message.removed = url.empty();
    message.elapsed_us = elapsed_us;
    journal.RecordDelivery(message, verdict);
  } catch (const std::exception& error) {
    std::cerr << "varnolt: warning: verdict journal: " << error.what() << '\n';
  }
}

void DeliveryReport::Finish() {
  if (finished_) return;
  finished_ = true;
  if (output_ == DeliverOutput::kJson) std::cout << JsonText(results_);
}

DeliveryReport::~DeliveryReport() {
  try {
    Finish();
  } catch (...) {
    // Leaving with the failure that ended the batch matters more.
  }
}

}  // namespace varnolt::cli
