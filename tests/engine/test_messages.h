// Messages and files for the engine's tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace varnolt::testing {

// Mail of two kinds with vocabularies of their own plus shared words, varied
// per seed so that no two messages are the same.
class MailMaker {
 public:
  std::string Header(bool spam, int seed) const {
    const std::string host = spam ? "bulk" + std::to_string(seed % 7) + ".offers.example" : "lists.example.org";
    return "Received: from " + host + " (" + host + " [" + (spam ? "203.0.113." : "192.0.2.") +
           std::to_string(seed % 200) + "])\r\n\tby mx.example.net with ESMTP\r\n"
           "From: " + (spam ? "\"Deals\" <promo@" : "\"Ann\" <ann@") + host + ">\r\n"
           "Subject: " + Words(spam, seed, 4) + "\r\n"
           "Message-ID: <" + std::to_string(seed) + "@" + host + ">\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n\r\n";
  }

  std::string Body(bool spam, int seed) const { return Words(spam, seed, 60); }

 private:
  std::string Words(bool spam, int seed, int count) const {
    static const char* kSpam[] = {"free",  "money",  "winner", "viagra", "offer",  "cheap",  "click", "prize",
                                  "loan",  "credit", "casino", "unsubscribe", "guaranteed", "cash", "bonus", "deal"};
    static const char* kHam[] = {"meeting", "agenda",  "patch",   "review", "kernel",  "thanks", "lunch", "project",
                                 "report",  "minutes", "release", "branch", "compiler", "draft", "budget", "team"};
    static const char* kShared[] = {"the", "and", "you", "this", "today", "please", "time", "more"};
    std::mt19937 rng(static_cast<unsigned>(seed * 2 + (spam ? 1 : 0)));
    std::string text;
    for (int i = 0; i < count; ++i) {
      const unsigned r = rng();
      text += (r % 3 == 0) ? kShared[r % 8] : (spam ? kSpam[r % 16] : kHam[r % 16]);
      text += (i % 10 == 9) ? "\r\n" : " ";
    }
    return text + " ref" + std::to_string(seed);
  }
};

inline std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh folder below the system's temporary folder, removed at the end.
class TempFolder {
 public:
  TempFolder() {
    path_ = std::filesystem::temp_directory_path() / ("engine-test-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace varnolt::testing
