// rspamd's Bayes classifier alone: a private rspamd (its own configuration,
// no rules, no plugins, a resolver that leads nowhere) over its own Redis,
// both on loopback ports, driven with rspamc as a mail system would drive it.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "peer_filter.h"
#include "program.h"

namespace varnolt::eval {
namespace {

constexpr int kStartSeconds = 600;  // rspamd compiles its tables at start; slow on a loaded machine

std::string Config(const std::string& folder, int scan_port, int controller_port, int redis_port, int min_learns) {
  const std::string f = folder;
  return "options {\n"
         "  pidfile = \"" + f + "/rspamd.pid\";\n"
         "  filters = \"\";\n"
         "  explicit_modules = [];\n"
         // Nothing asks, but should anything try, it reaches no server.
         "  dns { nameserver = [\"127.0.0.1:1\"]; }\n"
         "  url_tld = \"/usr/share/rspamd/effective_tld_names.dat\";\n"
         "  cache_file = \"" + f + "/symbols.cache\";\n"
         "  dynamic_conf = \"" + f + "/dynamic\";\n"
         "  history_file = \"" + f + "/history\";\n"
         "  control_socket = \"" + f + "/rspamd.sock mode=0600\";\n"
         "  stats_file = \"" + f + "/stats.ucl\";\n"
         "  hs_cache_dir = \"" + f + "/\";\n"
         "  tempdir = \"" + f + "\";\n"
         "}\n"
         "logging { type = \"file\"; filename = \"" + f + "/rspamd.log\"; level = \"notice\"; }\n"
         "worker \"normal\" { bind_socket = \"127.0.0.1:" + std::to_string(scan_port) + "\"; count = 1; }\n"
         "worker \"controller\" { bind_socket = \"127.0.0.1:" + std::to_string(controller_port) +
         "\"; count = 1; secure_ip = \"127.0.0.1\"; }\n"
         "classifier \"bayes\" {\n"
         "  tokenizer { name = \"osb\"; }\n"
         "  backend = \"redis\";\n"
         "  servers = \"127.0.0.1:" + std::to_string(redis_port) + "\";\n"
         "  new_schema = true;\n"
         "  min_tokens = 11;\n"
         "  min_learns = " + std::to_string(min_learns) + ";\n"
         "  statfile { symbol = \"BAYES_HAM\"; spam = false; }\n"
         "  statfile { symbol = \"BAYES_SPAM\"; spam = true; }\n"
         "}\n";
}

class RspamdBayes : public PeerFilter {
 public:
  RspamdBayes(const std::string& folder, int min_learns) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    redis_port_ = FreeLoopbackPort();
    redis_.emplace(std::vector<std::string>{"redis-server", "--port", std::to_string(redis_port_), "--bind",
                                            "127.0.0.1", "--save", "", "--appendonly", "no", "--dir", folder_},
                   folder_ + "/redis.log");
    redis_->WaitForPort(redis_port_, 60);
    const int scan_port = FreeLoopbackPort();
    int controller_port = FreeLoopbackPort();
    while (controller_port == scan_port) controller_port = FreeLoopbackPort();
    scan_ = "127.0.0.1:" + std::to_string(scan_port);
    controller_ = "127.0.0.1:" + std::to_string(controller_port);
    const std::string config = folder_ + "/rspamd.conf";
    std::ofstream(config) << Config(folder_, scan_port, controller_port, redis_port_, min_learns);
    // -i: its workers may run as the user running the evaluation (root here).
    rspamd_.emplace(std::vector<std::string>{"rspamd", "-f", "-i", "-c", config}, folder_ + "/rspamd.out");
    rspamd_->WaitForPort(scan_port, kStartSeconds);
    rspamd_->WaitForPort(controller_port, kStartSeconds);
  }

  PeerVerdict Classify(const std::string& file) override {
    int status = 0;
    const std::string out = RunProgram({"rspamc", "-t", "120", "-h", scan_, "symbols", file}, &status);
    if (status != 0) throw std::runtime_error("rspamc could not reach the private rspamd (" + folder_ + "/rspamd.log)");
    return ReadRspamcSymbols(out);
  }

  void Learn(const std::string& file, bool is_spam) override {
    int status = 0;
    // A message it refuses (too few words) teaches nothing, as in a mail system.
    RunProgram({"rspamc", "-t", "120", "-h", controller_, is_spam ? "learn_spam" : "learn_ham", file}, &status);
    if (status != 0) throw std::runtime_error("rspamc could not reach the private rspamd (" + folder_ + "/rspamd.log)");
  }

  // What Redis holds of the model.
  uint64_t DatabaseBytes() override {
    int status = 0;
    const std::string info = RunProgram({"redis-cli", "-p", std::to_string(redis_port_), "info", "memory"}, &status);
    const std::string key = "used_memory_dataset:";
    const size_t at = info.find(key);
    return at == std::string::npos ? 0 : std::strtoull(info.c_str() + at + key.size(), nullptr, 10);
  }

 private:
  std::string folder_;
  int redis_port_ = 0;
  std::string scan_, controller_;
  // Stopped in reverse order: rspamd before its Redis.
  std::optional<Daemon> redis_, rspamd_;
};

}  // namespace

// "Symbol: BAYES_SPAM (5.10)[99.85%]": the percentage is how far the Bayes
// probability lies from one half (100% at 0 or 1); no such symbol, no answer.
PeerVerdict ReadRspamcSymbols(const std::string& output) {
  for (const bool spam : {true, false}) {
    const std::string symbol = spam ? "Symbol: BAYES_SPAM" : "Symbol: BAYES_HAM";
    const size_t at = output.find(symbol);
    if (at == std::string::npos) continue;
    const size_t open = output.find('[', at);
    if (open == std::string::npos || open > output.find('\n', at)) return {};
    const double distance = std::fabs(std::strtod(output.c_str() + open + 1, nullptr)) / 200;
    return {spam ? 0.5 + distance : 0.5 - distance, spam, false};
  }
  return {};
}

std::unique_ptr<PeerFilter> MakeRspamdBayes(const std::string& folder, int min_learns) {
  for (const char* program : {"rspamd", "rspamc", "redis-server", "redis-cli"}) {
    if (!OnPath(program)) {
      throw std::runtime_error(std::string(program) +
                               " is not installed (Debian packages rspamd, redis-server; --no-rspamd leaves them out)");
    }
  }
  return std::make_unique<RspamdBayes>(folder, min_learns);
}

}  // namespace varnolt::eval
