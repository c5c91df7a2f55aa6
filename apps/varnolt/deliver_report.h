// What `deliver` says about each message beyond its URL: the verdict the
// filter stamped, the engine's score, and why the filter left a message
// without a verdict; all of it from the filter's own verdict of the event.
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
  // folder_url: where the messages are delivered.
  DeliveryReport(Session& session, const std::string& folder_url, DeliverOutput output);
  // Finishes when Finish was not called: a failed batch still lists what it delivered.
  ~DeliveryReport();
  DeliveryReport(const DeliveryReport&) = delete;
  DeliveryReport& operator=(const DeliveryReport&) = delete;

  // Delivers one message through deliver (which returns the item's URL after
  // the filter ran) and reports it from the filter's verdict; file names the
  // message's source.
  void Deliver(const std::string& file, const std::string& bytes, const std::function<std::string()>& deliver);

  // Prints the JSON array of the messages delivered; once.
  void Finish();

 private:
  void ExplainMissingVerdict(const std::string& file, const SaveVerdict* verdict);
  // The delivery's record in the verdict journal; never fails the delivery.
  void Journal(const std::string& url, const std::string& bytes, const SaveVerdict& verdict,
               int64_t elapsed_us) noexcept;

  Session& session_;
  std::string folder_url_;
  std::string mailbox_;  // user@domain
  DeliverOutput output_;
  Json results_ = Json::array();
  bool finished_ = false;
};

}  // namespace varnolt::cli
