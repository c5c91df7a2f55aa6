// The plugin's C++ side over an in-memory Dovecot user: a delivery's message
// read into properties, a stored message's keywords mapped to the marker and
// back, the marker stamped into the message, and records opened by URL.
#include <memory>
#include <string>

#include "dovecot/fake_mail_access.h"
#include "dovecot/marker_keywords.h"
#include "dovecot/plugin_records.h"
#include "fuzz/fuzz_support.h"
#include "platform/com/com_error.h"
#include "store/property_names.h"

using namespace varnolt;
using namespace varnolt::dovecot;

namespace {

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = std::min(text.find(' ', pos), text.size());
    if (end > pos) words.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return words;
}

void ReadAll(Record& record) {
  Fields& fields = record.GetFields();
  for (const char* name : {"urn:schemas:mailheader:from", "urn:schemas:mailheader:x-varnolt", "DAV:href",
                           "urn:schemas:mapi:proptag:x007D001E", "urn:schemas:mapi:proptag:x1000001E",
                           "urn:schemas:mapi:proptag:x1013001E", "DAV:parentname"}) {
    const std::shared_ptr<Field> field = fields.Item(name);
    if (field->Status() == kFieldOK) field->Value();
  }
}

}  // namespace

// Input: a message, "\n--\n", its keywords (blank separated), "\n--\n", a
// marker value, "\n--\n", a URL to open.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string_view> pieces = fuzz::SplitPieces(fuzz::AsText(data, size), 4);
  const std::string content(pieces[0]);
  const std::vector<std::string> keywords = Words(pieces[1]);
  int32_t marker = 0;
  for (char c : pieces[2]) marker = static_cast<int32_t>(static_cast<uint32_t>(marker) * 10 + static_cast<uint8_t>(c));

  testing::FakeMailAccess access;
  for (const char* name : {"INBOX", "Junk E-Mail", "Trash"}) access.CreateMailbox(name);
  PluginConnection connection(access, MailboxUrls("example.com", "alice", '/'));
  try {
    auto delivery = PluginRecord::ForDelivery(connection, "INBOX", content);
    ReadAll(*delivery);
    delivery->GetFields().Item(kMailMarkerField)->SetValue(Variant::Int32(marker));
    delivery->GetFields().Update();
    const std::string stamped = StampMessage(content, delivery->marker());
    const uint32_t uid = access.SaveMessage(delivery->mailbox(), stamped, delivery->StateKeywords());

    access.UpdateKeywords(delivery->mailbox(), uid, keywords, {});
    auto stored = PluginRecord::ForMessage(connection, delivery->mailbox(), uid, /*outside=*/true);
    ReadAll(*stored);
    const std::optional<int32_t> by_keywords = MarkerOfKeywords(access.ReadMessage(delivery->mailbox(), uid)->keywords);
    // The keywords a marker gives read back as that marker.
    if (MarkerOfKeywords(KeywordsOfMarker(marker)).value_or(marker) != marker) __builtin_trap();
    if (by_keywords) StaleMarkerKeywords(keywords, *by_keywords);
    stored->GetFields().Item(kMailMarkerField)->SetValue(Variant::Int32(marker ^ 1));
    stored->GetFields().Update();

    auto record = connection.CreateRecord();
    record->Open(std::string(pieces[3]), connection, ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists,
                 RecordOpenOptions::kDelayFetchAll);
    ReadAll(*record);
  } catch (const ComError&) {
  }
  return 0;
}
