#include "platform/com/com_error.h"

#include <exception>

#include "platform/errorinfo/error_info.h"

namespace varnolt {
namespace {

constexpr uint32_t kRuntimeFacility = 0x800A0000u;

}  // namespace

std::string RuntimeErrorDescription(int32_t number) {
  switch (number) {
    case kInvalidProcedureCall: return "Invalid procedure call or argument";
    case kOverflow: return "Overflow";
    case kSubscriptOutOfRange: return "Subscript out of range";
    case kTypeMismatch: return "Type mismatch";
    case kFileNotFound: return "File not found";
    case kInputPastEndOfFile: return "Input past end of file";
    case kPermissionDenied: return "Permission denied";
    case kPathFileAccessError: return "Path/File access error";
    case kPathNotFound: return "Path not found";
    default: return "Application-defined or object-defined error";
  }
}

ComError RuntimeError(int32_t number) { return ComError(number, RuntimeErrorDescription(number)); }

HRESULT HResultFromErrorNumber(int32_t number) {
  if (number > 0 && number <= 0xFFFF) {
    return static_cast<HRESULT>(kRuntimeFacility | static_cast<uint32_t>(number));
  }
  if (number == 0) return E_FAIL;
  return number;
}

int32_t ErrorNumberFromHResult(HRESULT hr) {
  const auto bits = static_cast<uint32_t>(hr);
  if ((bits & 0xFFFF0000u) == kRuntimeFacility) return static_cast<int32_t>(bits & 0xFFFFu);
  return hr;
}

void SetErrorInfo(const ComError& error) { StoreErrorInfo(error.number(), error.description()); }

void ClearErrorInfo() { ResetErrorInfo(); }

void ThrowIfFailed(HRESULT hr) {
  if (Succeeded(hr)) return;
  int32_t recorded = 0;
  std::string description;
  if (TakeErrorInfo(&recorded, &description) && HResultFromErrorNumber(recorded) == hr) {
    throw ComError(recorded, std::move(description));
  }
  const int32_t number = ErrorNumberFromHResult(hr);
  if (number != hr) throw RuntimeError(number);
  throw ComError(hr, "Automation error");
}

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

HRESULT ReturnError(const ComError& error) {
  SetErrorInfo(error);
  return HResultFromErrorNumber(error.number());
}

}  // namespace varnolt
