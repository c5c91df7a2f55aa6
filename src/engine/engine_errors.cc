#include "engine/engine_errors.h"

namespace varnolt::engine {

ComError EngineError(int32_t number, const std::string& path, const std::string& what) {
  return ComError(number, "Spam database " + path + " " + what);
}

}  // namespace varnolt::engine
