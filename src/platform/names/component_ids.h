// The identifiers registrations and hosts refer to the filter component by:
// fixed for good, compiled into the component and into every host.
#pragma once

#include "platform/com/guid.h"

namespace varnolt {

extern const Guid LIBID_VarnoltFilter;       // type library "VarnoltFilter" 1.0
extern const CLSID CLSID_ExchangeFilter;     // class ExchangeFilter
extern const IID IID_ExchangeFilterDefault;  // default interface _ExchangeFilter
// The construction interfaces as component services know them.
extern const IID IID_IObjectConstruct;
extern const IID IID_IObjectConstructString;
inline constexpr const char* kProgId = "VarnoltFilter.ExchangeFilter";
inline constexpr const char* kLibraryTitle = "VarnoltFilter";

}  // namespace varnolt
