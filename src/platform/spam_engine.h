// The spam engine: gives the HAM/SPAM verdict and learns, with one database per
// user at the given path. Paths are the filter's composed texts ("\" separators).
// Every operation reports a failure by throwing ComError. The platform makes
// instances (Platform::CreateSpamEngine); the filter only uses them.
#pragma once

#include <cstdint>
#include <string>

namespace varnolt {

struct SpamCounts {
  int32_t ham = 0;
  int32_t spam = 0;
};

class SpamEngine {
 public:
  virtual ~SpamEngine() = default;
  // True means SPAM. Creates the database file on first use.
  virtual bool Classify(const std::string& dat_path, const std::string& header, const std::string& body) = 0;
  // Learns the message as the given class. Creates the database file on first use.
  virtual void Learn(const std::string& dat_path, const std::string& header, const std::string& body,
                     bool is_spam) = 0;
  // The user's correction: undoes what was learned for this message, if
  // anything, and learns it as the given class; idempotent.
  virtual void Relearn(const std::string& dat_path, const std::string& header, const std::string& body,
                       bool is_spam) = 0;
  // HAM and SPAM messages learned; 0/0 for a missing file or an empty path, creating nothing.
  virtual SpamCounts GetCounts(const std::string& dat_path) = 0;
};

}  // namespace varnolt
