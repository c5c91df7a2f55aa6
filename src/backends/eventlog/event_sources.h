// The registered sources of an event log: handle -> source name.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/event_log.h"

namespace varnolt {

class EventSources {
 public:
  // A new handle for the source; 0 for an empty source name.
  EventSourceHandle Register(const std::string& source);
  // The source behind an open handle.
  std::optional<std::string> Find(EventSourceHandle handle);
  bool Deregister(EventSourceHandle handle);

 private:
  std::mutex mutex_;
  std::map<EventSourceHandle, std::string> sources_;
  EventSourceHandle next_handle_ = 1;
};

// The entry's text: the insertion strings joined by blanks, with line breaks
// turned into blanks so that an entry is always one line.
std::string EntryText(const std::vector<std::string>& strings);

}  // namespace varnolt
