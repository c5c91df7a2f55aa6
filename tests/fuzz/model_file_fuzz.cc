// The model file: a valid model whose rows the input damages (counts out of
// range or of the wrong type, token blobs of any size and content, learned
// messages of any class, rows missing), then read, scored and learned over by
// the engine. A file the engine refuses is left exactly as it was.
#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "engine/builtin_spam_engine.h"
#include "engine/model_cache.h"
#include "fuzz/fuzz_support.h"
#include "platform/com/com_error.h"

using namespace varnolt;

namespace {

constexpr const char* kHeader = "From: a@example.com\r\nSubject: cheap pills\r\n";
constexpr const char* kBody = "buy cheap pills now at http://pills.example.com/";

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A small model that learned a few messages of each class, made once.
const std::string& TemplateModel() {
  static const std::string bytes = [] {
    const std::string path = fuzz::ScratchFolder() + "/template.dat";
    EngineOptions options;
    options.cache = std::make_shared<engine::ModelCache>();
    BuiltinSpamEngine engine(options);
    for (int i = 0; i < 3; ++i) {
      const std::string n = std::to_string(i);
      engine.Learn(path, kHeader, "spam words " + n, true);
      engine.Learn(path, "From: b@example.org\r\n", "meeting notes " + n, false);
    }
    options.cache.reset();
    return ReadBytes(path);
  }();
  return bytes;
}

// Reads the input as a list of damages, one per step, each applied with SQL.
class Damage {
 public:
  explicit Damage(std::string_view input) : input_(input) {}

  void ApplyTo(sqlite3* db) {
    while (!input_.empty()) {
      const uint8_t op = Byte();
      sqlite3_stmt* stmt = nullptr;
      switch (op % 6) {
        case 0:
          sqlite3_prepare_v2(db, "UPDATE meta SET value = ?2 WHERE key = ?1", -1, &stmt, nullptr);
          sqlite3_bind_text(stmt, 1, MetaKey(), -1, SQLITE_STATIC);
          BindAny(stmt, 2);
          break;
        case 1:
          sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO tokens(bucket, entries) VALUES(?1, ?2)", -1, &stmt, nullptr);
          BindAny(stmt, 1);
          BindAny(stmt, 2);
          break;
        case 2:
          sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO messages(digest, spam, automatic) VALUES(?1, ?2, ?3)", -1,
                             &stmt, nullptr);
          BindAny(stmt, 1);
          BindAny(stmt, 2);
          BindAny(stmt, 3);
          break;
        case 3:
          sqlite3_prepare_v2(db, "DELETE FROM meta WHERE key = ?1", -1, &stmt, nullptr);
          sqlite3_bind_text(stmt, 1, MetaKey(), -1, SQLITE_STATIC);
          break;
        case 4:
          sqlite3_prepare_v2(db, "UPDATE messages SET spam = ?1", -1, &stmt, nullptr);
          BindAny(stmt, 1);
          break;
        case 5:
          sqlite3_prepare_v2(db, "UPDATE tokens SET entries = ?1 WHERE bucket = (SELECT min(bucket) FROM tokens)",
                             -1, &stmt, nullptr);
          BindAny(stmt, 1);
          break;
      }
      sqlite3_step(stmt);
      sqlite3_finalize(stmt);
    }
  }

 private:
  uint8_t Byte() {
    if (input_.empty()) return 0;
    const auto b = static_cast<uint8_t>(input_.front());
    input_.remove_prefix(1);
    return b;
  }
  int64_t Int() {
    uint64_t v = 0;
    const size_t n = std::min<size_t>(8, input_.size());
    for (size_t i = 0; i < n; ++i) v |= uint64_t{static_cast<uint8_t>(input_[i])} << (8 * i);
    input_.remove_prefix(n);
    return static_cast<int64_t>(v);
  }
  std::string_view Bytes() {
    const size_t n = std::min<size_t>(Byte(), input_.size());
    const std::string_view bytes = input_.substr(0, n);
    input_.remove_prefix(n);
    return bytes;
  }
  const char* MetaKey() {
    static const char* const kKeys[] = {"ham", "spam", "depth", "entries"};
    return kKeys[Byte() % 4];
  }
  // A value of any of SQLite's types: small and huge integers, reals, text, blobs, NULL.
  void BindAny(sqlite3_stmt* stmt, int index) {
    switch (Byte() % 6) {
      case 0: sqlite3_bind_int64(stmt, index, Byte() - 128); break;
      case 1: sqlite3_bind_int64(stmt, index, Int()); break;
      case 2: sqlite3_bind_double(stmt, index, static_cast<double>(Int()) / 7.0); break;
      case 3: {
        const std::string_view text = Bytes();
        sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
      }
      case 4: {
        const std::string_view blob = Bytes();
        sqlite3_bind_blob(stmt, index, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        break;
      }
      default: sqlite3_bind_null(stmt, index); break;
    }
  }

  std::string_view input_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::ScratchFolder() + "/alice.dat";
  fuzz::WriteScratchFile(path, TemplateModel());
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) Damage(fuzz::AsText(data, size)).ApplyTo(db);
  sqlite3_close(db);
  const std::string damaged = ReadBytes(path);

  EngineOptions options;
  options.cache = std::make_shared<engine::ModelCache>();
  BuiltinSpamEngine engine(options);
  int step = 0;
  try {
    const SpamCounts counts = engine.GetCounts(path);
    if (counts.ham < 0 || counts.spam < 0) __builtin_trap();
    step = 1;
    const SpamScore score = engine.Score(path, kHeader, kBody);
    if (!(score.spamminess >= 0.0 && score.spamminess <= 1.0)) __builtin_trap();
    step = 2;
    engine.Learn(path, kHeader, kBody, true);
    step = 3;
    engine.Relearn(path, kHeader, kBody, false);
    const SpamCounts after = engine.GetCounts(path);
    if (after.ham < 0 || after.spam < 0) __builtin_trap();
  } catch (const ComError&) {
    // Refused: nothing was learned over the damage. Up to the first learn
    // nothing may have been written at all (the relearn comes after a learn
    // that committed).
    if (step <= 2 && ReadBytes(path) != damaged) __builtin_trap();
  }
  return 0;
}
