#include "store/junk_folders.h"

#include <optional>

#include "platform/com/com_error.h"
#include "store/property_names.h"

namespace varnolt {
namespace {

constexpr int kMoveAttempts = 100;  // the first move and 99 retries

// Opens the record at the URL for reading; throws when nothing is there.
std::unique_ptr<Record> OpenExisting(Connection& connection, const std::string& url) {
  std::unique_ptr<Record> record = connection.CreateRecord();
  record->Open(url, connection, ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists,
               RecordOpenOptions::kDelayFetchAll);
  return record;
}

// Whether the record at the URL can be opened; a failing close does not count.
bool Exists(Connection& connection, const std::string& url) {
  std::unique_ptr<Record> record;
  try {
    record = OpenExisting(connection, url);
  } catch (const ComError&) {
    return false;
  }
  try {
    record->Close();
  } catch (const ComError&) {
  }
  return true;
}

// The text without its last n characters (UTF-8 aware); an invalid call when it is shorter.
std::string DropLastCharacters(const std::string& text, int n) {
  size_t end = text.size();
  for (int i = 0; i < n; ++i) {
    if (end == 0) throw RuntimeError(kInvalidProcedureCall);
    --end;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  }
  return text.substr(0, end);
}

std::string Folded(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

bool IsInFolder(Record& record, const std::string& folder_url) {
  try {
    return Folded(record.ParentURL()) == Folded(folder_url);
  } catch (const ComError&) {
    return false;
  }
}

bool OpenJunkMailFolder(Connection& connection, const std::string& url) { return Exists(connection, url); }

bool OpenSpambox(Reporter& reporter, Connection& connection, const std::string& url) {
  if (Exists(connection, url)) return true;
  try {
    std::unique_ptr<Record> record = connection.CreateRecord();
    record->Open(url, connection, ConnectMode::kReadWrite, RecordCreateOptions::kCreateCollection,
                 RecordOpenOptions::kUnspecified);
    // All three steps are attempted; the last failure is the one reported.
    std::optional<ComError> failure;
    auto attempt = [&](auto step) {
      try {
        step();
      } catch (const ComError& error) {
        failure = error;
      }
    };
    Fields& fields = record->GetFields();
    attempt([&] { fields.Item(kContentClassField)->SetValue(Variant::Text(kFolderContentClass)); });
    attempt([&] { fields.Item(ExchangeField("outlookfolderclass"))->SetValue(Variant::Text("IPF.Note")); });
    attempt([&] { fields.Update(); });
    if (failure) throw *failure;
    record->Close();
  } catch (const ComError& error) {
    reporter.LogError("Open Spambox failed: " + error.description(), error.number(), url);
  }
  return false;
}

bool MoveSpamToFolder(Reporter& reporter, TickSource& ticks, Record& record, const std::string& folder_url,
                      const std::string& mail_file) {
  std::optional<ComError> failure;
  for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
    try {
      const std::string source = record.Source();
      std::string destination = folder_url + "/" + mail_file;
      if (attempt > 0) {
        // Printed as a signed number, as the tick count always was.
        const auto tick = static_cast<int32_t>(ticks.GetTickCount());
        destination = folder_url + "/" + DropLastCharacters(mail_file, 4) + std::to_string(tick) + ".eml";
      }
      record.MoveRecord(source, destination, "", "", MoveRecordOptions::kUnspecified, false);
      return true;
    } catch (const ComError& error) {
      failure = error;
    }
  }
  reporter.LogError("Cannot move Spam to " + folder_url + ": " + failure->description(), failure->number(),
                 SourceForReport(record));
  return false;
}

}  // namespace varnolt
