// The application ids in the headers of this system's SQLite files, so that
// each kind of file recognises the others and refuses them by name.
#pragma once

#include <cstdint>

namespace varnolt {

// "VNMB": a mailbox store (backends/mailstore).
inline constexpr int32_t kMailStoreApplicationId = 0x564E4D42;
// "VNSP": a spam model of the built-in engine (engine/model_store).
inline constexpr int32_t kSpamModelApplicationId = 0x564E5350;
// "VNLT": files of earlier releases, mailbox stores and spam models alike.
inline constexpr int32_t kEarlierSharedApplicationId = 0x564E4C54;

}  // namespace varnolt
