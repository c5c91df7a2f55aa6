// spamprobe with its own database folder: `score` to classify, `good` and
// `spam` to learn (a message learned as the other class before is moved).
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "peer_filter.h"
#include "program.h"

namespace varnolt::eval {
namespace {

class Spamprobe : public PeerFilter {
 public:
  explicit Spamprobe(const std::string& folder) : folder_(folder) { std::filesystem::create_directories(folder_); }

  PeerVerdict Classify(const std::string& file) override {
    int status = 0;
    return ReadSpamprobeScore(RunProgram({"spamprobe", "-d", folder_, "score", file}, &status));
  }

  void Learn(const std::string& file, bool is_spam) override {
    int status = 0;
    RunProgram({"spamprobe", "-d", folder_, is_spam ? "spam" : "good", file}, &status);
    if (status != 0) throw std::runtime_error("spamprobe could not learn " + file);
  }

  uint64_t DatabaseBytes() override { return FolderBytes(folder_); }

 private:
  std::string folder_;
};

}  // namespace

// "SPAM 0.9998611 <digest>" or "GOOD 0.0000077 <digest>".
PeerVerdict ReadSpamprobeScore(const std::string& output) {
  std::istringstream line(output);
  std::string word;
  double score = 0;
  if (!(line >> word >> score) || (word != "SPAM" && word != "GOOD")) return {};
  return {score, word == "SPAM", false};
}

std::unique_ptr<PeerFilter> MakeSpamprobe(const std::string& folder) {
  if (!OnPath("spamprobe")) {
    throw std::runtime_error("spamprobe is not installed (Debian package spamprobe; --no-spamprobe leaves it out)");
  }
  return std::make_unique<Spamprobe>(folder);
}

}  // namespace varnolt::eval
