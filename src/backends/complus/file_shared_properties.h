// Shared properties for a group of processes that share one file: a mail
// server that starts a process per session (Dovecot) sees its settings
// loaded once per server instance, as they would be in one long-lived
// process. The file holds a key of the instance (the host chooses it: the
// server's start, the registry hive's identity); a file of another key is
// taken as empty and replaced, so a restart or a changed hive drops the
// cache. Inside a process, the groups behave as InProcessComponentServices'.
// A process that makes a property keeps the file locked until it has given
// the property its value (or left it unassigned): the instance's other
// processes wait for that rather than read it unassigned, which they would
// keep for their life.
// Whatever goes wrong with the file (unwritable, damaged), the process keeps
// its own properties: the cache only ever saves work.
#pragma once

#include <memory>
#include <string>

#include "platform/shared_properties.h"

namespace varnolt {

class FileComponentServices final : public ComponentServices {
 public:
  // path: the cache file (created for owner and group when missing);
  // instance_key: one line of text naming the instance.
  FileComponentServices(std::string path, std::string instance_key);
  ~FileComponentServices() override;

  // Always inside the application: the host made this object for it.
  std::unique_ptr<SharedPropertyGroupManager> CreateSharedPropertyGroupManager() override;

  struct State;  // shared with the managers

 private:
  std::shared_ptr<State> state_;
};

}  // namespace varnolt
