// The filter as the store's host runs it: registered once by its library,
// then, in every process that raises events, created by class identifier from
// the registered library, constructed with the constructor string and bound
// to the store as its event sink.
#pragma once

#include <memory>
#include <string>

#include "host/interfaces.h"
#include "hosting/filter_library.h"
#include "platform/com/unknown.h"
#include "platform/platform.h"

namespace varnolt::hosting {

// One filter object with the interfaces the store calls.
struct LoadedFilter {
  std::unique_ptr<FilterLibrary> library;
  ComPtr<IExStoreSyncEvents> sync_events;
  ComPtr<IExStoreSystemEvents> system_events;
};

// Loads the library at path and lets it register itself in the platform's registry.
void RegisterFilter(Platform& platform, const std::string& library_path);

// Finds the class registered for the filter's programmatic identifier and
// its library in the platform's registry, loads it, creates one object,
// constructs it with the stored constructor string and marks this process as
// running inside the application. Throws CommandError when the filter is not
// registered or cannot be created.
LoadedFilter CreateRegisteredFilter(Platform& platform);

}  // namespace varnolt::hosting
