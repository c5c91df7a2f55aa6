// What `deliver` says about each message beyond its URL: the verdict the
// filter stamped, the engine's score, and why the filter left a message
// without a verdict (from the lines it added to its log meanwhile).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "varnolt/json_output.h"
#include "varnolt/session.h"

namespace varnolt::cli {

enum class DeliverOutput {
  kUrls,     // one URL a line: what scripts read
  kVerdicts, // verdict, score and URL a line, for people
  kJson,     // [{file, url, marker, score}] once every message is in
};

class DeliveryReport {
 public:
  // folder_url: where the messages are delivered; internal: mail submitted
  // inside the organisation (trusted without asking the engine).
  DeliveryReport(Session& session, const std::string& folder_url, bool internal, DeliverOutput output);
  // Finishes when Finish was not called: a failed batch still lists what it delivered.
  ~DeliveryReport();
  DeliveryReport(const DeliveryReport&) = delete;
  DeliveryReport& operator=(const DeliveryReport&) = delete;

  // Delivers one message through deliver (which returns the item's URL after
  // the filter ran) and reports it; file names the message's source.
  void Deliver(const std::string& file, const std::string& bytes, const std::function<std::string()>& deliver);

  // Prints the JSON array of the messages delivered; once.
  void Finish();

 private:
  std::optional<double> EngineScore(const std::string& bytes);
  // The item's marker; *read is set false when it could not be read.
  std::optional<int32_t> MarkerOf(const std::string& url, bool* read);
  void ExplainMissingVerdict(const std::string& file, const std::string& new_log_text);
  int64_t LogSize();
  // The delivery's record in the verdict journal; never fails the delivery.
  void Journal(const std::string& url, const std::string& bytes, const std::optional<int32_t>& marker,
               int64_t elapsed_us) noexcept;
  bool IsHidden(const std::string& url);

  Session& session_;
  std::string folder_url_;
  std::string mailbox_;  // user@domain
  bool internal_;
  DeliverOutput output_;
  std::string dat_path_;
  std::string log_path_;
  Json results_ = Json::array();
  bool finished_ = false;
};

}  // namespace varnolt::cli
