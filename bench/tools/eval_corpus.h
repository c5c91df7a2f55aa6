// The evaluation corpus: the index written by bench/fetch-corpus, and each
// message split the way the mail store hands it to the filter (the header block
// as received, and the HTML body if there is one, else the plain body, decoded
// to UTF-8).
#pragma once

#include <gmime/gmime.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

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

inline std::string HeaderBlock(const std::string& raw) {
  size_t end = raw.find("\n\n");
  const size_t crlf = raw.find("\r\n\r\n");
  if (crlf != std::string::npos && crlf < end) return raw.substr(0, crlf + 2);
  return end == std::string::npos ? raw : raw.substr(0, end + 1);
}

// The first text part of the wanted subtype, decoded and converted to UTF-8.
inline std::string FirstTextPart(GMimeMessage* message, const char* subtype) {
  GMimeObject* root = g_mime_message_get_mime_part(message);
  if (root == nullptr) return {};
  std::string text;
  auto visit = [&](GMimeObject* part) {
    if (!text.empty() || !GMIME_IS_TEXT_PART(part)) return;
    GMimeContentType* type = g_mime_object_get_content_type(part);
    if (!g_mime_content_type_is_type(type, "text", subtype)) return;
    if (char* decoded = g_mime_text_part_get_text(GMIME_TEXT_PART(part))) {
      text = decoded;
      g_free(decoded);
    }
  };
  if (GMIME_IS_MULTIPART(root)) {
    GMimePartIter* iter = g_mime_part_iter_new(root);
    if (g_mime_part_iter_is_valid(iter)) {
      do visit(g_mime_part_iter_get_current(iter));
      while (g_mime_part_iter_next(iter));
    }
    g_mime_part_iter_free(iter);
  } else {
    visit(root);
  }
  return text;
}

inline std::string BodyText(const std::string& raw) {
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(raw.data(), raw.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  std::string body;
  if (message != nullptr) {
    body = FirstTextPart(message, "html");
    if (body.empty()) body = FirstTextPart(message, "plain");
    g_object_unref(message);
  }
  g_object_unref(parser);
  g_object_unref(stream);
  return body;
}

// Reads the messages of the given groups from the corpus folder.
inline std::vector<CorpusMessage> LoadCorpus(const std::string& folder, const std::set<std::string>& groups) {
  g_mime_init();
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
    const std::string raw = ReadFile(message.file);
    message.header = HeaderBlock(raw);
    message.body = BodyText(raw);
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
