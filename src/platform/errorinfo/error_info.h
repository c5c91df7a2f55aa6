// The per-thread error information of a process: one slot per thread, in a
// shared library of its own, so that the filter component and the host that
// loaded it read and write the same slot (as they would the system's). Use it
// through SetErrorInfo / ThrowIfFailed (platform/com/com_error.h).
#pragma once

#include <cstdint>
#include <string>

#define VARNOLT_ERROR_INFO_API __attribute__((visibility("default")))

namespace varnolt {

// Replaces this thread's error information.
VARNOLT_ERROR_INFO_API void StoreErrorInfo(int32_t number, const std::string& description);
// Empties it.
VARNOLT_ERROR_INFO_API void ResetErrorInfo();
// Moves it out: false (outputs untouched) when there is none; the slot is empty afterwards.
VARNOLT_ERROR_INFO_API bool TakeErrorInfo(int32_t* number, std::string* description);

}  // namespace varnolt
