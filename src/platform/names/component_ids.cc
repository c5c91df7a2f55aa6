#include "platform/names/component_ids.h"

namespace varnolt {

const Guid LIBID_VarnoltFilter = Guid::FromLiteral("{62D8754B-E0AB-4CF5-BD32-6FAB0C944375}");
const CLSID CLSID_ExchangeFilter = Guid::FromLiteral("{315CB529-FD59-4E93-B342-4959EF4B20B8}");
const IID IID_ExchangeFilterDefault = Guid::FromLiteral("{DA12D50C-321F-4BDD-B944-24387309E40B}");
const IID IID_IObjectConstruct = Guid::FromLiteral("{41C4F8B3-7439-11D2-98CB-00C04F8EE1C4}");
const IID IID_IObjectConstructString = Guid::FromLiteral("{41C4F8B2-7439-11D2-98CB-00C04F8EE1C4}");

}  // namespace varnolt
