// A spam engine whose answers and failures the test chooses, and which records
// every call. All instances made by one factory share one script.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/com_error.h"
#include "platform/spam_engine.h"
#include "platform/text_files.h"

namespace varnolt::testing {

struct EngineCall {
  std::string operation;  // "Classify", "Peek", "Learn", "Relearn", "GetCounts"
  std::string dat_path;
  std::string header;
  std::string body;
  bool is_spam = false;  // Learn and Relearn only

  bool operator==(const EngineCall&) const = default;
};

struct EngineScript {
  bool verdict = false;  // Classify's and Peek's answer: true is SPAM (score 1, else 0)
  SpamCounts counts;     // GetCounts' answer
  // Operations that throw instead of answering.
  std::map<std::string, ComError> failures;
  // When set, Classify, Learn and Relearn create the database file (as a real
  // engine does on first use) by appending a line to it.
  TextFiles* files = nullptr;

  std::vector<EngineCall> calls;
  int instances = 0;

  // The operation names of the calls, in order.
  std::vector<std::string> Operations() const;
};

class ScriptedEngine : public SpamEngine {
 public:
  explicit ScriptedEngine(std::shared_ptr<EngineScript> script) : script_(std::move(script)) {}

  SpamScore Classify(const std::string& dat_path, const std::string& header, const std::string& body) override;
  SpamScore Peek(const std::string& dat_path, const std::string& header, const std::string& body) override;
  void Learn(const std::string& dat_path, const std::string& header, const std::string& body, bool is_spam) override;
  void Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
               bool is_spam) override;
  SpamCounts GetCounts(const std::string& dat_path) override;

 private:
  void Track(EngineCall call, bool stores);
  std::shared_ptr<EngineScript> script_;
};

// A factory for FakePlatform::engine_factory.
std::function<std::unique_ptr<SpamEngine>()> ScriptedEngineFactory(std::shared_ptr<EngineScript> script);

}  // namespace varnolt::testing
