#include "triage/new_mail_decision.h"

#include "trust/message_readers.h"
#include "trust/whitelist.h"

namespace varnolt {

TrustAnswer WhoDecides(Reporter& reporter, TextFiles& files, Record& record, const std::string& dat_path,
                       int32_t use_white_list) {
  TrustAnswer answer;
  if (GetSenderAddrType(record) == "EX" && GetTransportHeaders(record).empty()) {
    answer.decided_by = DecidedBy::kInternal;
    return answer;
  }
  if (use_white_list == 0) return answer;
  answer.sender = GetSenderAddress(reporter, record);
  const bool listed = InWhiteList(reporter, files, record, dat_path, answer.sender);
  if (!answer.sender.empty() && listed) answer.decided_by = DecidedBy::kWhitelist;
  return answer;
}

}  // namespace varnolt
