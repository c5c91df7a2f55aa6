// Names of the store properties the filter reads and writes. MAPI property
// fields are the store's property-tag prefix + "x" + eight hex digits.
#pragma once

#include <string>

namespace varnolt {

inline constexpr const char* kMapiPropTagPrefix = "urn:schemas:mapi:proptag:";
inline constexpr const char* kExchangeSchemaPrefix = "urn:schemas:exchange:";

// kMapiPropTagPrefix + tag, e.g. MapiField("x007D001E").
inline std::string MapiField(const std::string& tag) { return std::string(kMapiPropTagPrefix) + tag; }
inline std::string ExchangeField(const std::string& name) { return std::string(kExchangeSchemaPrefix) + name; }

inline constexpr const char* kContentClassField = "DAV:contentclass";
inline constexpr const char* kParentNameField = "DAV:parentname";
inline constexpr const char* kDeletedItemsField = "urn:schemas:httpmail:deleteditems";
inline constexpr const char* kFromField = "urn:schemas:mailheader:from";
// The verdict the filter stamps on a message (store/mail_marker.h).
inline constexpr const char* kMailMarkerField = "urn:schemas:mailheader:X-Varnolt";
inline constexpr const char* kMessageContentClass = "urn:content-classes:message";
inline constexpr const char* kFolderContentClass = "urn:content-classes:folder";

}  // namespace varnolt
