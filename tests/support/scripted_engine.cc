#include "support/scripted_engine.h"

namespace varnolt::testing {

std::vector<std::string> EngineScript::Operations() const {
  std::vector<std::string> names;
  for (const EngineCall& call : calls) names.push_back(call.operation);
  return names;
}

void ScriptedEngine::Track(EngineCall call, bool stores) {
  const std::string operation = call.operation;
  const std::string dat_path = call.dat_path;
  script_->calls.push_back(std::move(call));
  auto failure = script_->failures.find(operation);
  if (failure != script_->failures.end()) throw failure->second;
  if (stores && script_->files) script_->files->AppendLine(dat_path, operation);
}

SpamScore ScriptedEngine::Classify(const std::string& dat_path, const std::string& header, const std::string& body) {
  Track({"Classify", dat_path, header, body, false}, true);
  return SpamScore{script_->verdict ? 1.0 : 0.0, script_->verdict};
}

SpamScore ScriptedEngine::Peek(const std::string& dat_path, const std::string& header, const std::string& body) {
  Track({"Peek", dat_path, header, body, false}, false);
  return SpamScore{script_->verdict ? 1.0 : 0.0, script_->verdict};
}

void ScriptedEngine::Learn(const std::string& dat_path, const std::string& header, const std::string& body,
                           bool is_spam) {
  Track({"Learn", dat_path, header, body, is_spam}, true);
}

void ScriptedEngine::Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
                             bool is_spam) {
  Track({"Relearn", dat_path, header, body, is_spam}, true);
}

SpamCounts ScriptedEngine::GetCounts(const std::string& dat_path) {
  Track({"GetCounts", dat_path, "", "", false}, false);
  return script_->counts;
}

std::function<std::unique_ptr<SpamEngine>()> ScriptedEngineFactory(std::shared_ptr<EngineScript> script) {
  return [script]() -> std::unique_ptr<SpamEngine> {
    ++script->instances;
    return std::make_unique<ScriptedEngine>(script);
  };
}

}  // namespace varnolt::testing
