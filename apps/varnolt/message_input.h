// What the filter hands the spam engine for a message, computed from the
// message's bytes the way the store derives it at delivery, so that training
// and checking from files see the same text as the filter does.
#pragma once

#include <string>

namespace varnolt::cli {

struct EngineInput {
  std::string header;  // the header block as received (mail from outside)
  std::string body;    // the HTML body when there is one, else the plain body
};

EngineInput EngineInputOf(const std::string& message);

}  // namespace varnolt::cli
