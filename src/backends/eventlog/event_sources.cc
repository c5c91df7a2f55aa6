#include "backends/eventlog/event_sources.h"

namespace varnolt {

EventSourceHandle EventSources::Register(const std::string& source) {
  if (source.empty()) return 0;
  std::lock_guard<std::mutex> guard(mutex_);
  const EventSourceHandle handle = next_handle_++;
  sources_.emplace(handle, source);
  return handle;
}

std::optional<std::string> EventSources::Find(EventSourceHandle handle) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto it = sources_.find(handle);
  if (it == sources_.end()) return std::nullopt;
  return it->second;
}

bool EventSources::Deregister(EventSourceHandle handle) {
  std::lock_guard<std::mutex> guard(mutex_);
  return sources_.erase(handle) == 1;
}

std::string EntryText(const std::vector<std::string>& strings) {
  std::string text;
  for (const auto& s : strings) {
    if (!text.empty()) text += ' ';
    text += s;
  }
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

}  // namespace varnolt
