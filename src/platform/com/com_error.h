// The one error type that carries a failure through the filter: a number and a text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/com/hresult.h"

namespace varnolt {

// Runtime error numbers used everywhere, so that log lines stay stable.
enum RuntimeErrorNumber : int32_t {
  kInvalidProcedureCall = 5,
  kOverflow = 6,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kFileNotFound = 53,
  kInputPastEndOfFile = 62,
  kPermissionDenied = 70,
  kPathFileAccessError = 75,
  kPathNotFound = 76,
};

class ComError : public std::runtime_error {
 public:
  ComError(int32_t number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}

  int32_t number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  int32_t number_;
  std::string description_;
};

// The fixed description of a runtime error number ("Type mismatch" for 13 ...);
// an unknown number gets "Application-defined or object-defined error".
std::string RuntimeErrorDescription(int32_t number);

// A ComError for one of the runtime error numbers, with its fixed description.
ComError RuntimeError(int32_t number);

// Maps an error number to the status a method returns for it: runtime errors
// (1..65535) become 0x800A0000 | number, HRESULT-style numbers stay as they are.
HRESULT HResultFromErrorNumber(int32_t number);

// The reverse of HResultFromErrorNumber.
int32_t ErrorNumberFromHResult(HRESULT hr);

// Per-thread error information: a method that fails with a ComError records it
// here before returning the failure status, and the caller turns the status back
// into the same ComError. This is how the description survives a status return,
// also from the filter component to its host: both use the one slot of the
// process (platform/errorinfo).
void SetErrorInfo(const ComError& error);
void ClearErrorInfo();

// Throws the ComError behind a failed status (the recorded one when it matches,
// else one made from the status); does nothing for a success status.
void ThrowIfFailed(HRESULT hr);

// Call inside a catch block: the ComError in flight, or one made from another
// exception (E_FAIL with its text).
ComError CurrentError();

// Call inside a catch block: records the error in flight and returns its status.
HRESULT StatusOfCurrentError();

// Records the error and returns its status: the tail of a method's handler.
HRESULT ReturnError(const ComError& error);

}  // namespace varnolt
