// The interfaces the filter class implements besides the store's events
// (store/store_events.h); their identifiers are in platform/names/component_ids.h.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/guid.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "platform/names/component_ids.h"
#include "store/store_events.h"

namespace varnolt {

// The default interface _ExchangeFilter: the file log and the settings cache.
class IExchangeFilter : public IUnknown {
 public:
  // Appends one line to the text log; the failure of the first failing step otherwise.
  virtual HRESULT Log(const std::string& sLog) = 0;
  // Writes "Err: " + sErr + " 0x" + hex(nErr) + " Source: " + source; always S_OK.
  virtual HRESULT Log_Err(const std::string& sErr, int32_t nErr, const std::string& source) = 0;
  // One setting from the process-wide cache (loaded from the registry once); always S_OK.
  virtual HRESULT GetSharedProp(const std::string& SP_Varnolt, Variant* result) = 0;
};

// The construction object component services hand to Construct.
class IObjectConstructString : public IUnknown {
 public:
  virtual HRESULT get_ConstructString(std::string* value) = 0;
};

class IObjectConstruct : public IUnknown {
 public:
  virtual HRESULT Construct(IUnknown* pCtorObj) = 0;
};

}  // namespace varnolt
