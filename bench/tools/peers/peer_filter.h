// The peer spam filters run beside ours in the evaluation, each driven as a
// mail system drives it: one process per message to score, another to learn.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace varnolt::eval {

struct PeerVerdict {
  double spamminess = 0.5;  // higher is spammier; only its order matters (ROC)
  bool is_spam = false;
  bool unsure = true;  // the peer gave no answer (no model yet, too little evidence): HAM
};

class PeerFilter {
 public:
  virtual ~PeerFilter() = default;
  // Scores the message in this file; throws when the peer cannot be run.
  virtual PeerVerdict Classify(const std::string& file) = 0;
  // Teaches the message as the class given.
  virtual void Learn(const std::string& file, bool is_spam) = 0;
  // What the peer keeps of what it learned.
  virtual uint64_t DatabaseBytes() = 0;
};

// Each keeps its database in the folder given, which it creates. Throws, naming
// the Debian package, when the peer is not installed.
std::unique_ptr<PeerFilter> MakeCrm114(const std::string& folder);
std::unique_ptr<PeerFilter> MakeSpamprobe(const std::string& folder);
// Starts a private rspamd (only its Bayes classifier, which answers once each
// class was taught min_learns messages) and its own Redis, both on loopback
// ports; the returned filter stops them.
std::unique_ptr<PeerFilter> MakeRspamdBayes(const std::string& folder, int min_learns);

// The peers' answers, read from what their programs print.
PeerVerdict ReadCrm114Stats(const std::string& output);
PeerVerdict ReadSpamprobeScore(const std::string& output);
PeerVerdict ReadRspamcSymbols(const std::string& output);

}  // namespace varnolt::eval
