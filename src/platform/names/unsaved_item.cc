#include "platform/names/unsaved_item.h"

#include <cstring>
#include <strings.h>

namespace varnolt {

bool IsUnsavedItemUrl(const std::string& url) {
  const size_t size = std::strlen(kUnsavedItemName);
  return url.size() > size && url[url.size() - size - 1] == '/' &&
         strcasecmp(url.c_str() + url.size() - size, kUnsavedItemName) == 0;
}

}  // namespace varnolt
