#include "varnolt/deliver_report.h"

#include <strings.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "hosting/registry_values.h"
#include "platform/com/com_error.h"
#include "platform/names/data_layout.h"
#include "platform/system/text_files.h"
#include "store/property_names.h"
#include "varnolt/mailbox_address.h"
#include "varnolt/message_input.h"

namespace varnolt::cli {
namespace {

constexpr const char* kHiddenProperty = "urn:schemas:mapi:proptag:x67aa000b";

std::string VerdictText(const std::optional<int32_t>& marker) {
  if (!marker) return "UNJUDGED";
  if (*marker == 1) return "HAM";
  if (*marker == 2) return "SPAM";
  return "MARKER-" + std::to_string(*marker);
}

std::string ParentOf(const std::string& url) { return url.substr(0, url.rfind('/')); }

}  // namespace

DeliveryReport::DeliveryReport(Session& session, const std::string& folder_url, bool internal, DeliverOutput output)
    : session_(session), internal_(internal), output_(output) {
  // The spelling the store created, which the filter's paths are built from.
  folder_url_ = session.Store().Describe(folder_url).url;
  const MailboxAddress mailbox = MailboxOfUrl(folder_url_);
  mailbox_ = mailbox.Text();
  const std::string data_folder = session.DataFolder();
  if (!data_folder.empty()) {
    dat_path_ = UserDatabasePath(data_folder, mailbox.domain, mailbox.user);
    log_path_ = ToFileSystemPath(LogFilePath(data_folder));
  }
}

int64_t DeliveryReport::LogSize() {
  struct stat info {};
  return !log_path_.empty() && stat(log_path_.c_str(), &info) == 0 ? info.st_size : 0;
}

// The engine's answer for the message as the filter asks it, taken before the
// delivery so that what the filter learns from it does not colour it. None for
// mail from inside, which the filter trusts without asking.
std::optional<double> DeliveryReport::EngineScore(const std::string& bytes) {
  if (internal_ || dat_path_.empty() || output_ == DeliverOutput::kUrls) return std::nullopt;
  try {
    const EngineInput input = EngineInputOf(bytes);
    return session_.Engine().Peek(dat_path_, input.header, input.body).spamminess;
  } catch (const ComError&) {
    return std::nullopt;  // the filter meets the same fault and says so in its log
  }
}

std::optional<int32_t> DeliveryReport::MarkerOf(const std::string& url, bool* read) {
  if (url.empty()) return std::nullopt;
  std::optional<Variant> marker;
  try {
    marker = session_.Store().StoredProperty(url, kMailMarkerField);
  } catch (const std::exception&) {
    *read = false;
    return std::nullopt;
  }
  if (!marker) return std::nullopt;
  try {
    return marker->ToInt32();
  } catch (const ComError&) {
    return std::nullopt;  // a marker that is no number counts as none, as the filter reads it
  }
}

void DeliveryReport::ExplainMissingVerdict(const std::string& file, const std::string& new_log_text) {
  std::istringstream lines(new_log_text);
  std::string line;
  std::string reasons;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t at = line.find("Err: ");
    if (at != std::string::npos) reasons += "\n  " + line.substr(at + 5);
  }
  std::cerr << "varnolt: " << file << ": the filter left the message without a verdict";
  if (!reasons.empty()) {
    std::cerr << "; its log says:" << reasons << '\n';
    return;
  }
  const auto provider_mode = QueryValue(session_.GetPlatform().Reg(), HKEY_LOCAL_MACHINE, kSettingsKey, "ProviderMode");
  if (provider_mode && DisplayText(*provider_mode) != "0" && !DisplayText(*provider_mode).empty()) {
    std::cerr << " (ProviderMode is on and the user has no spam database nor a .create file: "
                 "the filter leaves this user's mail alone)\n";
  } else {
    std::cerr << " (its log gives no reason)\n";
  }
}

void DeliveryReport::Deliver(const std::string& file, const std::string& bytes,
                             const std::function<std::string()>& deliver) {
  const std::optional<double> score = EngineScore(bytes);
  const int64_t log_before = LogSize();
  session_.Observation().Clear();
  const auto started = std::chrono::steady_clock::now();
  const std::string url = deliver();
  const auto elapsed = std::chrono::steady_clock::now() - started;
  // Nothing after the delivery may fail the command: a transfer agent would
  // deliver the message again.
  bool marker_read = true;
  const std::optional<int32_t> marker = MarkerOf(url, &marker_read);
  Journal(url, bytes, marker, std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
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
  if (marker_read && !marker && !url.empty()) {
    std::cout.flush();  // the message's own line first
    try {
      std::string added;
      if (LogSize() > log_before) {
        std::ifstream log(log_path_, std::ios::binary);
        log.seekg(log_before);
        std::ostringstream text;
        text << log.rdbuf();
        added = text.str();
      }
      ExplainMissingVerdict(file, added);
    } catch (const std::exception& error) {
      std::cerr << "varnolt: " << file << ": the filter left the message without a verdict (" << error.what()
                << ")\n";
    }
  }
}

void DeliveryReport::Journal(const std::string& url, const std::string& bytes,
                             const std::optional<int32_t>& marker, int64_t elapsed_us) noexcept {
  try {
    JournalWriter& journal = session_.Journal();
    if (!journal.enabled()) return;
    JudgedMessage message;
    message.mailbox = mailbox_;
    message.content = bytes;
    message.marker = marker;
    message.internal = internal_;
    message.elapsed_us = elapsed_us;
    if (url.empty()) {
      message.action = "removed";
    } else if (IsHidden(url)) {
      message.action = "hidden";
    } else {
      message.action = strcasecmp(ParentOf(url).c_str(), folder_url_.c_str()) == 0 ? "left" : "filed";
    }
    journal.RecordDelivery(message, session_.Observation());
  } catch (const std::exception& error) {
    std::cerr << "varnolt: warning: verdict journal: " << error.what() << '\n';
  }
}

bool DeliveryReport::IsHidden(const std::string& url) {
  try {
    const std::optional<Variant> hidden = session_.Store().StoredProperty(url, kHiddenProperty);
    if (!hidden) return false;
    return hidden->kind() == Variant::Kind::kBool ? hidden->AsBool() : hidden->ToText() == "True";
  } catch (const std::exception&) {
    return false;
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
