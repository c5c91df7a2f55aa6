// The online evaluation of the built-in engine against bogofilter on the same
// messages in the same seeded order: each message is scored first, then (in
// train-everything mode always, in train-on-error mode only when the verdict
// was wrong, and in error-unsure mode also when the answer was uncertain)
// trained with its true label. In filter mode the first messages are taught
// as an administrator's pre-training, and after that each classifier runs as
// a deployed filter: it may learn from its own verdicts, and a wrong verdict
// is corrected (the message moved to its true class). In cold and site mode a
// new mailbox receives the first messages in that regime, taught nothing
// (cold) or beside a domain model taught first (site). Run through
// bench/engine-eval. In filter mode crm114, spamprobe and rspamd's Bayes
// classifier run beside them (bench/tools/peers).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "engine/builtin_spam_engine.h"
#include "platform/names/data_layout.h"
#include "eval_corpus.h"
#include "eval_metrics.h"
#include "peers/peer_filter.h"
#include "peers/program.h"

namespace varnolt::eval {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// As a new varnolt home runs the engine: learning from its own clear verdicts.
EngineOptions DeployedOptions() {
  EngineOptions options;
  options.auto_learn.enabled = true;
  return options;
}

struct Args {
  std::string corpus;
  std::string groups = "dev";
  std::string modes = "everything,error,error-unsure,filter";
  std::string work;
  uint64_t seed = 1;
  size_t limit = 0;
  bool bogofilter = true;
  bool crm114 = true, spamprobe = true, rspamd = true;  // filter mode's other peers
  bool list_errors = false;
  bool recheck = false;  // each corrected message judged again right after its correction
  size_t pretrain = 200;
  size_t stream = 1000;     // cold and site: how many messages the new mailbox receives
  std::string lesson;       // site: the domain's lesson (default: see Main)
  // Filter mode's pre-training teaches the domain's shared model instead of
  // the user's, and the stream is dealt in turns to this many new mailboxes
  // of that domain.
  bool pretrain_domain = false;
  size_t users = 1;
  EngineOptions options = DeployedOptions();
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

uint64_t FileBytes(const fs::path& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

// The modes in which a classifier runs as a deployed filter: it learns from its
// own verdicts and a wrong verdict is corrected (filter: after a pre-training;
// cold: a new mailbox taught nothing; site: a new mailbox of a domain whose
// model was taught first).
bool Deployed(const std::string& mode) { return mode == "filter" || mode == "cold" || mode == "site"; }

void Record(RunResult& result, const CorpusMessage& message, double spamminess, bool said_spam) {
  (message.is_spam ? result.spam : result.ham) += 1;
  if (said_spam && !message.is_spam) ++result.false_positives;
  if (!said_spam && message.is_spam) ++result.false_negatives;
  result.scores.emplace_back(spamminess, message.is_spam);
}

// One classifier under evaluation: scores a message, then learns it when the
// mode says so. Both classifiers see each message in turn, so that a change in
// the machine's load hits their timings alike.
class Contender {
 public:
  Contender(std::string name, std::string mode) {
    result_.classifier = std::move(name);
    result_.mode = std::move(mode);
  }
  virtual ~Contender() = default;

  // Filter mode's pre-training: learned, not scored.
  void Pretrain(const CorpusMessage& message) {
    Learn(message);
    ++result_.trained;
  }

  // Site mode: the administrator teaches the domain before the mailbox exists.
  // After a batch of lessons (the site's, the pre-training), as `varnolt train` ends one.
  virtual void TaughtAll() {}

  void TeachSite(const CorpusMessage& message) {
    const auto start = Clock::now();
    LearnForSite(message);
    result_.site_seconds += Seconds(Clock::now() - start);
    ++result_.site_taught;
  }

  void Take(const CorpusMessage& message, bool list_errors) {
    const auto start = Clock::now();
    const Verdict verdict = Classify(message);
    const auto scored = Clock::now();
    result_.classify_seconds += Seconds(scored - start);
    Record(result_, message, verdict.spamminess, verdict.is_spam);
    if (list_errors && verdict.is_spam != message.is_spam) {
      std::printf("%s %s %s %.3f #%zu %s\n", result_.classifier.c_str(), result_.mode.c_str(),
                  message.is_spam ? "FN" : "FP", verdict.spamminess, result_.scores.size(), message.file.c_str());
    }
    if (verdict.learned) ++result_.auto_learned;
    const bool wrong = verdict.is_spam != message.is_spam;
    if (Deployed(result_.mode)) {
      if (wrong) {
        Correct(message, verdict);
        result_.learn_seconds += Seconds(Clock::now() - scored);
        ++result_.trained;
        // The user looks again right after the move: does the correction stick?
        if (recheck_) {
          ++result_.rechecked;
          if (Recheck(message) != message.is_spam) ++result_.recheck_wrong;
        }
      }
      return;
    }
    const bool trains_unsure = result_.mode == "error-unsure" && verdict.unsure;
    if (result_.mode == "everything" || wrong || trains_unsure) {
      Learn(message);
      result_.learn_seconds += Seconds(Clock::now() - scored);
      ++result_.trained;
    }
  }

  void set_recheck(bool recheck) { recheck_ = recheck; }

  RunResult Finish() {
    result_.database_bytes = DatabaseBytes();
    return std::move(result_);
  }

 protected:
  struct Verdict {
    double spamminess;
    bool is_spam;
    bool unsure;  // an uncertain answer (bogofilter's third one, counted as HAM); error-unsure mode trains it too
    bool learned = false;  // the classifier registered its own verdict (filter mode)
  };
  const std::string& mode() const { return result_.mode; }
  virtual Verdict Classify(const CorpusMessage& message) = 0;
  virtual void Learn(const CorpusMessage& message) = 0;
  // What the domain's lesson teaches: the site-wide model.
  virtual void LearnForSite(const CorpusMessage& message) = 0;
  // Filter mode: the user moves a message the classifier got wrong.
  virtual void Correct(const CorpusMessage& message, const Verdict& verdict) = 0;
  virtual uint64_t DatabaseBytes() = 0;
  // The verdict on a message judged again, registering nothing.
  virtual bool Recheck(const CorpusMessage& message) = 0;

 private:
  RunResult result_;
  bool recheck_ = false;
};

class OurEngine : public Contender {
 public:
  OurEngine(const std::string& mode, const Args& args)
      : Contender("varnolt", mode), engine_(OptionsFor(mode, args.options)), pretrain_domain_(args.pretrain_domain) {
    const fs::path folder = fs::path(args.work) / ("varnolt-" + mode);
    fs::create_directories(folder);
    for (size_t i = 0; i < std::max<size_t>(args.users, 1); ++i) {
      users_.push_back((folder / ("user" + std::to_string(i) + ".dat")).string());
    }
    dat_ = users_[0];
    domain_ = DomainModelPathBeside(dat_);
  }

 private:
  // Learning from its own verdicts belongs to the filter's regime only.
  static EngineOptions OptionsFor(const std::string& mode, EngineOptions options) {
    if (!Deployed(mode)) options.auto_learn.enabled = false;
    return options;
  }
  Verdict Classify(const CorpusMessage& message) override {
    // Each message goes to the next mailbox; its correction is that user's.
    dat_ = users_[next_user_++ % users_.size()];
    const SpamScore score = engine_.Score(dat_, message.header, message.body);
    return {score.spamminess, score.is_spam, IsUnsure(score.spamminess), score.learned};
  }
  void Learn(const CorpusMessage& message) override {
    if (pretrain_domain_ && mode() == "filter") {
      engine_.LearnMessage(domain_, message.header, message.body, message.is_spam);
      return;
    }
    // The user's lesson (a correction, or the pre-training): refitted when due,
    // as a delivery's Learn no longer is.
    engine_.Relearn(dat_, message.header, message.body, message.is_spam);
  }
  void Correct(const CorpusMessage& message, const Verdict&) override {
    engine_.Relearn(dat_, message.header, message.body, message.is_spam);
  }
  bool Recheck(const CorpusMessage& message) override {
    return engine_.Peek(dat_, message.header, message.body).is_spam;
  }
  void TaughtAll() override {
    engine_.Refit(domain_);
    for (const std::string& user : users_) engine_.Refit(user);
  }
  // The administrator teaches the domain's shared model (varnolt train --domain).
  void LearnForSite(const CorpusMessage& message) override {
    engine_.LearnMessage(domain_, message.header, message.body, message.is_spam);
  }
  uint64_t DatabaseBytes() override {
    uint64_t bytes = FileBytes(domain_);
    for (const std::string& user : users_) bytes += FileBytes(user);
    return bytes;
  }

  BuiltinSpamEngine engine_;
  bool pretrain_domain_;
  std::vector<std::string> users_;
  size_t next_user_ = 0;
  std::string dat_;
  std::string domain_;
};

// bogofilter as a mail system drives it: one process per message to classify
// ("S"pam, "H"am or "U"nsure with its spamicity), another to register it.
class Bogofilter : public Contender {
 public:
  Bogofilter(const std::string& mode, const Args& args)
      : Contender("bogofilter", mode), folder_((fs::path(args.work) / ("bogofilter-" + mode)).string()) {}

 private:
  Verdict Classify(const CorpusMessage& message) override {
    int status = 0;
    // In filter mode it registers its own SPAM and HAM verdicts (-u), as its
    // documentation recommends for a deployed filter; unsure ones it leaves.
    std::vector<std::string> argv{"bogofilter", "-d", folder_, "-T", "-I", message.file};
    if (Deployed(mode())) argv.insert(argv.begin() + 1, "-u");
    const std::string out = RunProgram(argv, &status);
    // Before the first registration there is no word list: unsure, 0.5.
    if (out.size() < 3) return {0.5, false, true};
    return {std::atof(out.c_str() + 2), out[0] == 'S', out[0] == 'U', Deployed(mode()) && out[0] != 'U'};
  }
  void Learn(const CorpusMessage& message) override {
    int status = 0;
    RunProgram({"bogofilter", "-d", folder_, message.is_spam ? "-s" : "-n", "-I", message.file}, &status);
  }
  // One site-wide word list, taught the lesson as any message.
  void LearnForSite(const CorpusMessage& message) override { Learn(message); }
  void Correct(const CorpusMessage& message, const Verdict& verdict) override {
    int status = 0;
    // A registered verdict is moved (-Sn: unregister SPAM, register HAM; -Ns
    // the other way); an unsure one was never registered.
    const char* flags = !verdict.learned ? (message.is_spam ? "-s" : "-n") : (message.is_spam ? "-Ns" : "-Sn");
    RunProgram({"bogofilter", "-d", folder_, flags, "-I", message.file}, &status);
  }
  uint64_t DatabaseBytes() override { return FileBytes(fs::path(folder_) / "wordlist.db"); }
  bool Recheck(const CorpusMessage& message) override {
    int status = 0;
    const std::string out = RunProgram({"bogofilter", "-d", folder_, "-T", "-I", message.file}, &status);
    return out.size() >= 3 && out[0] == 'S';
  }

  std::string folder_;
};

// A peer in filter mode as its users run it: trained on error only (none of
// them is set to learn from its own verdicts), a correction teaching the
// message's true class.
class Peer : public Contender {
 public:
  Peer(std::string name, std::unique_ptr<PeerFilter> filter, const std::string& mode)
      : Contender(std::move(name), mode), filter_(std::move(filter)) {}

 private:
  Verdict Classify(const CorpusMessage& message) override {
    const PeerVerdict verdict = filter_->Classify(message.file);
    return {verdict.spamminess, verdict.is_spam, verdict.unsure};
  }
  void Learn(const CorpusMessage& message) override { filter_->Learn(message.file, message.is_spam); }
  void LearnForSite(const CorpusMessage& message) override { Learn(message); }
  void Correct(const CorpusMessage& message, const Verdict&) override { Learn(message); }
  uint64_t DatabaseBytes() override { return filter_->DatabaseBytes(); }
  bool Recheck(const CorpusMessage& message) override { return filter_->Classify(message.file).is_spam; }

  std::unique_ptr<PeerFilter> filter_;
};

void PrintTable(const std::vector<RunResult>& results) {
  std::printf("%-11s %-11s %5s %7s %5s %7s %10s %12s %10s %8s %8s %8s\n", "mode", "classifier", "FP", "FP%", "FN", "FN%",
              "(1-ROCA)%", "classify ms", "learn ms", "trained", "own", "db MB");
  for (const RunResult& r : results) {
    const double n = r.ham + r.spam;
    std::printf("%-11s %-11s %5d %7.3f %5d %7.3f %10.4f %12.3f %10.3f %8d %8d %8.2f\n", r.mode.c_str(),
                r.classifier.c_str(), r.false_positives, 100.0 * r.false_positives / std::max(r.ham, 1),
                r.false_negatives, 100.0 * r.false_negatives / std::max(r.spam, 1), OneMinusRocaPercent(r.scores),
                1000 * r.classify_seconds / n, r.trained ? 1000 * r.learn_seconds / r.trained : 0.0, r.trained,
                r.auto_learned, r.database_bytes / 1048576.0);
  }
  for (const RunResult& r : results) {
    if (r.rechecked == 0) continue;
    std::printf("%s %s: recheck: %d of %d corrected messages judged the old way right after the correction\n",
                r.mode.c_str(), r.classifier.c_str(), r.recheck_wrong, r.rechecked);
  }
  for (const RunResult& r : results) {
    if (r.site_taught == 0) continue;
    std::printf("%s %s: the domain's lesson, %d messages, %.3f ms each\n", r.mode.c_str(), r.classifier.c_str(),
                r.site_taught, 1000 * r.site_seconds / r.site_taught);
  }
}

// Filter mode's peers, each with its database in the work folder. rspamd
// answers once each class was taught min_learns messages: the warm-up's
// smaller class, so that it answers from the first scored message.
void AddPeers(const Args& args, const std::vector<CorpusMessage>& messages,
              std::vector<std::unique_ptr<Contender>>& contenders) {
  const fs::path work(args.work);
  if (args.crm114) contenders.push_back(std::make_unique<Peer>("crm114", MakeCrm114(work / "crm114"), "filter"));
  if (args.spamprobe) {
    contenders.push_back(std::make_unique<Peer>("spamprobe", MakeSpamprobe(work / "spamprobe"), "filter"));
  }
  if (args.rspamd) {
    const size_t pretrain = std::min(args.pretrain, messages.size());
    const size_t spam = std::count_if(messages.begin(), messages.begin() + static_cast<std::ptrdiff_t>(pretrain),
                                      [](const CorpusMessage& m) { return m.is_spam; });
    const int min_learns = static_cast<int>(std::max<size_t>(1, std::min(spam, pretrain - spam)));
    contenders.push_back(std::make_unique<Peer>("rspamd", MakeRspamdBayes(work / "rspamd", min_learns), "filter"));
  }
}

int Usage() {
  std::cerr << "usage: engine_eval --corpus DIR [--groups dev|acceptance|G1,G2]\n"
               "                   [--modes everything,error,error-unsure,filter,cold,site] [--pretrain N]\n"
               "                   [--stream N] [--lesson dev|acceptance|G1,G2]\n"
               "                   [--seed N] [--limit N] [--work DIR] [--no-bogofilter] [--list-errors] [--recheck]\n"
               "                   [--no-crm114] [--no-spamprobe] [--no-rspamd]\n"
               "                   [--threshold P] [--max-body BYTES] [--strength X] [--unknown-prob X]\n"
               "                   [--min-deviation X] [--max-clues N] [--auto-learn on|off]\n"
               "                   [--auto-ham P] [--auto-part P] [--auto-spam P] [--auto-ratio R]\n"
               "                   [--max-tokens N] [--evidence rates|counts] [--min-each-class N]\n"
               "                   [--duplicate-share X] [--unlike-spam-share X] [--user-weight N]\n"
               "                   [--pretrain-to user|domain] [--users N] [--domain-learning on|off]\n";
  return 2;
}

int Main(int argc, char** argv) {
  Args args;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--recheck") {
      args.recheck = true;
      continue;
    }
    if (flag == "--no-bogofilter" || flag == "--list-errors") {
      (flag == "--no-bogofilter" ? args.bogofilter : args.list_errors) = flag == "--list-errors";
      continue;
    }
    if (flag == "--no-crm114" || flag == "--no-spamprobe" || flag == "--no-rspamd") {
      (flag == "--no-crm114" ? args.crm114 : flag == "--no-spamprobe" ? args.spamprobe : args.rspamd) = false;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const std::string value = argv[++i];
    if (flag == "--corpus") args.corpus = value;
    else if (flag == "--groups") args.groups = value;
    else if (flag == "--modes") args.modes = value;
    else if (flag == "--work") args.work = value;
    else if (flag == "--seed") args.seed = std::stoull(value);
    else if (flag == "--limit") args.limit = std::stoul(value);
    else if (flag == "--pretrain") args.pretrain = std::stoul(value);
    else if (flag == "--stream") args.stream = std::stoul(value);
    else if (flag == "--lesson") args.lesson = value;
    else if (flag == "--threshold") args.options.threshold = args.options.auto_learn.threshold = std::stod(value);
    else if (flag == "--auto-learn") args.options.auto_learn.enabled = value == "on";
    else if (flag == "--auto-ham") args.options.auto_learn.ham_below = std::stod(value);
    else if (flag == "--auto-part") args.options.auto_learn.part_ham_below = std::stod(value);
    else if (flag == "--auto-spam") args.options.auto_learn.spam_above = std::stod(value);
    else if (flag == "--strength") args.options.chi_square.strength = std::stod(value);
    else if (flag == "--unknown-prob") args.options.chi_square.unknown_prob = std::stod(value);
    else if (flag == "--min-deviation") args.options.chi_square.min_deviation = std::stod(value);
    else if (flag == "--auto-ratio") args.options.auto_learn.max_ham_per_spam = std::stod(value);
    else if (flag == "--max-clues") args.options.chi_square.max_clues = std::stoul(value);
    else if (flag == "--evidence") args.options.chi_square.evidence_by_rates = value == "rates";
    else if (flag == "--max-tokens") args.options.tokenizer.max_tokens = std::stoul(value);
    else if (flag == "--min-each-class") args.options.thin_model.min_each_class = std::stoi(value);
    else if (flag == "--duplicate-share") args.options.thin_model.duplicate_share = std::stod(value);
    else if (flag == "--unlike-spam-share") args.options.thin_model.unlike_spam_share = std::stod(value);
    else if (flag == "--user-weight") args.options.user_weight = std::stoul(value);
    else if (flag == "--pretrain-to") args.pretrain_domain = value == "domain";
    else if (flag == "--users") args.users = std::stoul(value);
    else if (flag == "--domain-learning") args.options.domain_learning = value == "on";
    else if (flag == "--stick") args.options.corrections_stick = value == "on";
    else if (flag == "--max-body") args.options.tokenizer.max_body_bytes = std::stoul(value);
    else return Usage();
  }
  if (args.corpus.empty()) return Usage();
  const bool own_work = args.work.empty();
  if (own_work) {
    char pattern[] = "/tmp/engine-eval-XXXXXX";
    args.work = mkdtemp(pattern);
  } else if (fs::exists(args.work) && !fs::is_empty(args.work)) {
    // Each classifier would go on from the models an earlier run left there.
    std::fprintf(stderr, "engine_eval: --work %s is not empty: give an empty or new folder\n", args.work.c_str());
    return 2;
  }
  std::vector<CorpusMessage> messages = LoadCorpus(args.corpus, GroupsOf(args.groups));
  Shuffle(messages, args.seed);
  if (args.limit > 0 && messages.size() > args.limit) messages.resize(args.limit);
  std::map<std::string, int> per_group;
  for (const auto& m : messages) ++per_group[m.group];
  std::printf("messages:");
  for (const auto& [group, count] : per_group) std::printf(" %s=%d", group.c_str(), count);
  std::printf("  seed=%llu\n", static_cast<unsigned long long>(args.seed));

  // cold and site: a new mailbox receives the first --stream messages. The
  // domain's lesson is the development groups when the stream is the held-out
  // ones, else the rest of the chosen groups (a split, for tuning).
  const size_t stream = std::min(args.stream, messages.size());
  std::vector<CorpusMessage> lesson;
  if (args.modes.find("site") != std::string::npos) {
    const std::string lesson_groups = !args.lesson.empty() ? args.lesson : args.groups == "acceptance" ? "dev" : "";
    if (lesson_groups.empty()) {
      lesson.assign(messages.begin() + static_cast<std::ptrdiff_t>(stream), messages.end());
    } else {
      lesson = LoadCorpus(args.corpus, GroupsOf(lesson_groups));
    }
    int ham = 0;
    for (const auto& m : lesson) ham += !m.is_spam;
    std::printf("site: the domain is taught %zu messages (%d HAM, %zu SPAM); the mailbox receives %zu\n",
                lesson.size(), ham, lesson.size() - ham, stream);
  }

  std::vector<RunResult> results;
  std::istringstream modes(args.modes);
  for (std::string mode; std::getline(modes, mode, ',');) {
    if (mode != "everything" && mode != "error" && mode != "error-unsure" && !Deployed(mode)) return Usage();
    std::vector<std::unique_ptr<Contender>> contenders;
    contenders.push_back(std::make_unique<OurEngine>(mode, args));
    if (args.bogofilter) contenders.push_back(std::make_unique<Bogofilter>(mode, args));
    if (mode == "filter") AddPeers(args, messages, contenders);
    for (auto& contender : contenders) contender->set_recheck(args.recheck);
    if (mode == "site") {
      for (const CorpusMessage& message : lesson) {
        for (auto& contender : contenders) contender->TeachSite(message);
      }
      for (auto& contender : contenders) contender->TaughtAll();
    }
    const size_t pretrain = mode == "filter" ? std::min(args.pretrain, messages.size()) : 0;
    const size_t end = mode == "cold" || mode == "site" ? stream : messages.size();
    for (size_t i = 0; i < end; ++i) {
      for (auto& contender : contenders) {
        if (i < pretrain) {
          contender->Pretrain(messages[i]);
          if (i + 1 == pretrain) contender->TaughtAll();
        } else {
          contender->Take(messages[i], args.list_errors);
        }
      }
    }
    for (auto& contender : contenders) results.push_back(contender->Finish());
  }
  PrintTable(results);
  if (own_work) fs::remove_all(args.work);
  return 0;
}

}  // namespace
}  // namespace varnolt::eval

int main(int argc, char** argv) {
  try {
    return varnolt::eval::Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "engine_eval: " << e.what() << "\n";
    return 1;
  }
}
