#include "host/error_status.h"

#include <exception>

namespace varnolt {

ComError CurrentError() {
  try {
    throw;
  } catch (const ComError& e) {
    return e;
  } catch (const std::exception& e) {
    return ComError(E_FAIL, e.what());
  } catch (...) {
    return ComError(E_FAIL, "Unexpected error of an unknown kind");
  }
}

HRESULT StatusOfCurrentError() { return ReturnError(CurrentError()); }

}  // namespace varnolt
