#include "store/waste_basket.h"

#include "platform/com/com_error.h"
#include "platform/names/data_layout.h"
#include "store/property_names.h"

namespace varnolt {

std::string DetectWasteBasket(Reporter& reporter, Connection& connection, const std::string& domain,
                              const std::string& user) {
  std::string result;
  try {
    const std::string root = MailboxUrl(domain, user);
    std::unique_ptr<Record> record = connection.CreateRecord();
    record->Open(root, connection, ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists,
                 RecordOpenOptions::kDelayFetchAll);
    result = record->GetFields().Item(kDeletedItemsField)->Value().ToText();
    record->Close();
  } catch (const ComError& error) {
    reporter.LogError("Detection of WasteBasket failed: " + error.description(), error.number(), domain + "/" + user);
  }
  return result;
}

std::string DetectInbox(Connection& connection, const std::string& domain, const std::string& user) {
  try {
    std::unique_ptr<Record> record = connection.CreateRecord();
    record->Open(MailboxUrl(domain, user), connection, ConnectMode::kRead, RecordCreateOptions::kFailIfNotExists,
                 RecordOpenOptions::kDelayFetchAll);
    const std::shared_ptr<Field> field = record->GetFields().Item(kInboxField);
    const std::string inbox = field->Status() == kFieldDoesNotExist ? "" : field->Value().ToText();
    record->Close();
    return inbox;
  } catch (const ComError&) {
    return "";
  }
}

}  // namespace varnolt
