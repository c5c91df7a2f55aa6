// Turning the exception in flight into the error or status a method hands back.
#pragma once

#include "platform/com/com_error.h"

namespace varnolt {

// Call inside a catch block: the ComError in flight, or one made from another
// exception (E_FAIL with its text).
ComError CurrentError();

// Call inside a catch block: records the error in flight and returns its status.
HRESULT StatusOfCurrentError();

}  // namespace varnolt
