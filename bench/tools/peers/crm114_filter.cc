// crm114's OSB Bayes classifier (its mail filter's default) over two
// statistics files, through `crm -e` programs of our own: the message on
// standard input, as a mail system pipes it.
#include <cmath>
#include <filesystem>
#include <numbers>
#include <stdexcept>

#include "peer_filter.h"
#include "program.h"

namespace varnolt::eval {
namespace {

constexpr char kClassifier[] = "<osb unique microgroom>";

class Crm114 : public PeerFilter {
 public:
  explicit Crm114(const std::string& folder)
      : folder_(folder), spam_css_(folder + "/spam.css"), ham_css_(folder + "/ham.css") {
    std::filesystem::create_directories(folder_);
  }

  PeerVerdict Classify(const std::string& file) override {
    // Before both classes were taught there is nothing to compare: unsure.
    if (!std::filesystem::exists(spam_css_) || !std::filesystem::exists(ham_css_)) return {};
    int status = 0;
    // A classify that "fails" (the message is nearer the second file) leaves
    // its inner block only, so the statistics are printed either way.
    const std::string program = std::string("-{ isolate (:stats:); { classify ") + kClassifier + " (" + spam_css_ +
                                " | " + ham_css_ + ") (:stats:) } output /:*:stats:/ }";
    return ReadCrm114Stats(RunProgram({"crm", program}, &status, file));
  }

  void Learn(const std::string& file, bool is_spam) override {
    int status = 0;
    const std::string program =
        std::string("-{ learn ") + kClassifier + " (" + (is_spam ? spam_css_ : ham_css_) + ") }";
    RunProgram({"crm", program}, &status, file);
    if (status != 0) throw std::runtime_error("crm could not learn " + file);
  }

  uint64_t DatabaseBytes() override { return FolderBytes(folder_); }

 private:
  std::string folder_, spam_css_, ham_css_;
};

}  // namespace

// The first line: "CLASSIFY succeeds; success probability: 1.0000  pR: 4.7102"
// (or "fails"), pR being log10 of the odds for the first file, spam.
PeerVerdict ReadCrm114Stats(const std::string& output) {
  const size_t line_end = output.find('\n');
  const std::string first = output.substr(0, line_end);
  const size_t at = first.find("pR:");
  if (first.rfind("CLASSIFY", 0) != 0 || at == std::string::npos) return {};
  const double pr = std::strtod(first.c_str() + at + 3, nullptr);
  // pR runs to hundreds; atan keeps the order where a logistic would tie at 1.
  return {0.5 + std::atan(pr) / std::numbers::pi, pr > 0, pr == 0};
}

std::unique_ptr<PeerFilter> MakeCrm114(const std::string& folder) {
  if (!OnPath("crm")) {
    throw std::runtime_error("crm114 is not installed (Debian package crm114; --no-crm114 leaves it out)");
  }
  return std::make_unique<Crm114>(folder);
}

}  // namespace varnolt::eval
