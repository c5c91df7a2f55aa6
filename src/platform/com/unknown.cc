#include "platform/com/unknown.h"

namespace varnolt {

const IID IID_IUnknown = Guid::FromLiteral("{00000000-0000-0000-C000-000000000046}");

namespace {
std::atomic<long> g_module_locks{0};
}

void ModuleLocks::Increment() { ++g_module_locks; }
void ModuleLocks::Decrement() { --g_module_locks; }
long ModuleLocks::Count() { return g_module_locks.load(); }

}  // namespace varnolt
