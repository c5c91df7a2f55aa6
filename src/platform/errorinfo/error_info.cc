#include "platform/errorinfo/error_info.h"

#include <utility>

namespace varnolt {
namespace {

struct ErrorInfo {
  bool set = false;
  int32_t number = 0;
  std::string description;
};

thread_local ErrorInfo t_error_info;

}  // namespace

void StoreErrorInfo(int32_t number, const std::string& description) {
  t_error_info.set = true;
  t_error_info.number = number;
  t_error_info.description = description;
}

void ResetErrorInfo() {
  t_error_info.set = false;
  t_error_info.description.clear();
}

bool TakeErrorInfo(int32_t* number, std::string* description) {
  if (!t_error_info.set) return false;
  *number = t_error_info.number;
  *description = std::move(t_error_info.description);
  ResetErrorInfo();
  return true;
}

}  // namespace varnolt
