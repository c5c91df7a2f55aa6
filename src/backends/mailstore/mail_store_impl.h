// What a MailStore holds, shared by its reading and its event-raising halves.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "backends/mailstore/mail_store.h"
#include "backends/mailstore/store_core.h"

namespace varnolt {

struct MailStore::Impl {
  std::shared_ptr<mailstore::StoreCore> core;
  ComPtr<IExStoreSyncEvents> sync_sink;
  ComPtr<IExStoreSystemEvents> system_sink;
  EventWrapper event_wrapper;

  // Runs change (which returns the node the event is about) in one write
  // transaction, raises the save event with the flags on the sync sink, and
  // commits. Returns the node's URL after the event, "" when it is gone.
  std::string RunSaveEvent(const std::function<mailstore::Node()>& change, int32_t flags);

  // Stores a new message in the folder under name or its first free
  // numbered form, with properties derived beforehand, and raises the event.
  std::string SaveNewMessage(const std::string& folder_url, const std::string& name, std::string_view content,
                             const mailstore::PropertyList& derived, bool outside, int32_t flags);
};

}  // namespace varnolt
