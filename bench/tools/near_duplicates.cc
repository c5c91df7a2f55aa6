// How similar a message's key record is to its own next issue, and to the
// other messages of the corpus: the measurement behind the near-duplicate
// threshold of a user's correction (engine/corrections.h).
//
//   near_duplicates --corpus DIR [--groups dev|acceptance|g1,g2]
//
// A message's next issue is the message with a new Message-ID and Date and
// one line more in its body, as a newsletter's next issue or a campaign's
// next wave comes. Prints the share of messages whose next issue reaches
// each threshold, and the share whose most similar message of the other
// class (or another of its own class) does.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/corrections.h"
#include "engine/key_record.h"
#include "engine/tokenizer.h"
#include "eval_corpus.h"

namespace {

using varnolt::eval::CorpusMessage;

// The header with the value of the first field of that name replaced.
std::string Replaced(std::string header, const std::string& name, const std::string& value) {
  size_t at = 0;
  while (at < header.size()) {
    if (header.compare(at, name.size() + 1, name + ":") == 0) {
      size_t end = header.find('\n', at);
      while (end != std::string::npos && end + 1 < header.size() && (header[end + 1] == ' ' || header[end + 1] == '\t')) {
        end = header.find('\n', end + 1);
      }
      if (end == std::string::npos) end = header.size();
      const bool cr = end > 0 && header[end - 1] == '\r';
      header.replace(at, end - at - (cr ? 1 : 0), name + ": " + value);
      return header;
    }
    const size_t next = header.find('\n', at);
    if (next == std::string::npos) break;
    at = next + 1;
  }
  return name + ": " + value + "\r\n" + header;
}

std::vector<uint32_t> RecordOf(const std::string& header, const std::string& body) {
  return varnolt::engine::RecordKeys(varnolt::engine::FeatureIds(header, body, {}));
}

}  // namespace

int main(int argc, char** argv) {
  std::string corpus, groups = "dev";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--corpus") corpus = argv[i + 1];
    if (option == "--groups") groups = argv[i + 1];
  }
  if (corpus.empty()) {
    std::fprintf(stderr, "usage: near_duplicates --corpus DIR [--groups dev|acceptance|g1,g2]\n");
    return 2;
  }
  const std::vector<CorpusMessage> messages = varnolt::eval::LoadCorpus(corpus, varnolt::eval::GroupsOf(groups));
  std::vector<std::vector<uint32_t>> records;
  std::vector<double> next_issue;
  for (const CorpusMessage& message : messages) {
    records.push_back(RecordOf(message.header, message.body));
    const std::string header = Replaced(Replaced(message.header, "Message-ID", "<issue-2@example.net>"), "Date",
                                        "Mon, 7 Dec 2026 10:00:00 +0000");
    next_issue.push_back(
        varnolt::engine::KeySimilarity(records.back(), RecordOf(header, message.body + "\nAnd one more line: issue 2.\n")));
  }
  // Each message's most similar other message of the other class, and of its own.
  std::vector<double> other_class(messages.size(), 0), same_class(messages.size(), 0);
  for (size_t i = 0; i < messages.size(); ++i) {
    for (size_t j = i + 1; j < messages.size(); ++j) {
      const double similarity = varnolt::engine::KeySimilarity(records[i], records[j]);
      std::vector<double>& best = messages[i].is_spam == messages[j].is_spam ? same_class : other_class;
      best[i] = std::max(best[i], similarity);
      best[j] = std::max(best[j], similarity);
    }
  }
  std::sort(next_issue.begin(), next_issue.end());
  std::printf("%zu messages (%s); next issue's similarity: 1%% %.3f, 5%% %.3f, median %.3f\n", messages.size(),
              groups.c_str(), next_issue[next_issue.size() / 100], next_issue[next_issue.size() / 20],
              next_issue[next_issue.size() / 2]);
  std::printf("threshold  next issue reaches  other class reaches  own class reaches\n");
  for (double threshold : {0.5, 0.6, 0.7, 0.75, 0.8, 0.85, 0.9, 0.95}) {
    auto share = [&](const std::vector<double>& values) {
      const auto count = std::count_if(values.begin(), values.end(), [&](double v) { return v >= threshold; });
      return 100.0 * static_cast<double>(count) / static_cast<double>(values.size());
    };
    std::printf("%9.2f  %17.2f%%  %18.2f%%  %16.2f%%\n", threshold, share(next_issue), share(other_class),
                share(same_class));
  }
  return 0;
}
