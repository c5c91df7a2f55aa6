#include "host/constructor_string.h"

#include "platform/com/com_error.h"

namespace varnolt {

std::string DataFolderFromConstructorString(const std::string& constructor_string) {
  if (constructor_string.empty()) throw RuntimeError(kSubscriptOutOfRange);
  std::string folder = constructor_string.substr(0, constructor_string.find(';'));
  const size_t begin = folder.find_first_not_of(' ');
  folder = begin == std::string::npos ? "" : folder.substr(begin, folder.find_last_not_of(' ') - begin + 1);
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

}  // namespace varnolt
