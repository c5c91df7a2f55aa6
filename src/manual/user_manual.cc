#include "manual/user_manual.h"

#include "platform/com/com_error.h"
#include "store/property_names.h"

namespace varnolt {

void CreateUserManual(Reporter& reporter, Connection& connection, const std::string& data_folder,
                      const std::string& folder_url) {
  try {
    std::unique_ptr<Record> record = connection.CreateRecord();
    record->Open(folder_url + "/" + kUserManualItemName, connection, ConnectMode::kReadWrite,
                 RecordCreateOptions::kCreateOverwrite, RecordOpenOptions::kUnspecified);
    const std::string source_file = UserManualSourcePath(data_folder);
    Fields& fields = record->GetFields();
    {
      std::shared_ptr<Stream> stream = fields.Item(kDefaultStream)->StreamValue();
      stream->SetCharset("US-ASCII");
      stream->SetType(StreamType::kBinary);
      stream->LoadFromFile(source_file);
      stream->Flush();
    }
    fields.Item(MapiField("x001A001E"))->SetValue(Variant::Text("IPM.Note"));
    // Only the value 2 of the message flags: neither read (1) nor unsent (8).
    fields.Item(MapiField("x0E070003"))->SetValue(Variant::Int16(2));
    fields.Update();
    record->Close();
  } catch (const ComError& e) {
    reporter.LogError("Creation of user manual failed: " + e.description(), e.number(), folder_url);
  }
}

}  // namespace varnolt
