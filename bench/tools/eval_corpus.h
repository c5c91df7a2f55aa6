// The evaluation corpus: the index written by bench/fetch-corpus, and each
// message split by the mail store's own derivation, as the filter reads it
// (the header block as received, and the HTML body if there is one, else the
// plain body, decoded to UTF-8).
#pragma once

#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "backends/mailstore/message_properties.h"

namespace varnolt::eval {

struct CorpusMessage {
  std::string group;
  bool is_spam = false;
  std::string file;    // absolute path of the .eml
  std::string header;  // transport headers
  std::string body;    // body text as the filter reads it
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

// The groups a selection names: "dev" (easy-ham-1, hard-ham-1, spam-1),
// "acceptance" (easy-ham-2, spam-2), or a comma-separated list.
inline std::set<std::string> GroupsOf(const std::string& selection) {
  if (selection == "dev") return {"easy-ham-1", "hard-ham-1", "spam-1"};
  if (selection == "acceptance") return {"easy-ham-2", "spam-2"};
  std::set<std::string> groups;
  std::istringstream list(selection);
  for (std::string group; std::getline(list, group, ',');) groups.insert(group);
  return groups;
}

// Reads the messages of the given groups from the corpus folder.
inline std::vector<CorpusMessage> LoadCorpus(const std::string& folder, const std::set<std::string>& groups) {
  std::ifstream index(folder + "/index.tsv");
  if (!index) throw std::runtime_error("no index.tsv in " + folder + " (run bench/fetch-corpus)");
  std::vector<CorpusMessage> messages;
  std::string line;
  while (std::getline(index, line)) {
    std::istringstream fields(line);
    std::string group, label, file;
    std::getline(fields, group, '\t');
    std::getline(fields, label, '\t');
    std::getline(fields, file, '\t');
    if (!groups.contains(group)) continue;
    CorpusMessage message{group, label == "spam", folder + "/" + file, {}, {}};
    mailstore::MessageTexts texts = mailstore::DeriveMessageTexts(ReadFile(message.file));
    message.header = std::move(texts.header_block);
    if (texts.html_body && !texts.html_body->empty()) {
      message.body = std::move(*texts.html_body);
    } else if (texts.plain_body) {
      message.body = std::move(*texts.plain_body);
    }
    messages.push_back(std::move(message));
  }
  return messages;
}

// A fixed order for a seed, the same on every machine (std::shuffle's is not).
inline void Shuffle(std::vector<CorpusMessage>& messages, uint64_t seed) {
  uint64_t state = seed * 0x9e3779b97f4a7c15ULL + 1;
  auto next = [&state] {  // splitmix64
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  };
  for (size_t i = messages.size(); i > 1; --i) std::swap(messages[i - 1], messages[next() % i]);
}

}  // namespace varnolt::eval
