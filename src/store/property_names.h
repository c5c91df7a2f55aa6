// Names of the store properties the filter reads and writes. MAPI property
// fields are the store's property-tag prefix + "x" + eight hex digits.
#pragma once

#include <string>
#include <string_view>

namespace varnolt {

inline constexpr const char* kMapiPropTagPrefix = "urn:schemas:mapi:proptag:";
inline constexpr const char* kExchangeSchemaPrefix = "urn:schemas:exchange:";

// kMapiPropTagPrefix + tag, e.g. MapiField("x007D001E").
inline std::string MapiField(const std::string& tag) { return std::string(kMapiPropTagPrefix) + tag; }
inline std::string ExchangeField(const std::string& name) { return std::string(kExchangeSchemaPrefix) + name; }

inline constexpr const char* kContentClassField = "DAV:contentclass";
inline constexpr const char* kParentNameField = "DAV:parentname";
inline constexpr const char* kDeletedItemsField = "urn:schemas:httpmail:deleteditems";
inline constexpr const char* kInboxField = "urn:schemas:httpmail:inbox";
inline constexpr const char* kFromField = "urn:schemas:mailheader:from";
inline constexpr const char* kMailHeaderPrefix = "urn:schemas:mailheader:";
// The verdict the filter stamps on a message (store/mail_marker.h): the header
// line a store writes, and the property of the header's name it reads back.
inline constexpr const char* kMailMarkerHeader = "X-Varnolt";
inline constexpr const char* kMailMarkerField = "urn:schemas:mailheader:X-Varnolt";
static_assert(std::string_view(kMailMarkerField).starts_with(kMailHeaderPrefix) &&
              std::string_view(kMailMarkerField).substr(std::string_view(kMailHeaderPrefix).size()) == kMailMarkerHeader);
inline constexpr const char* kMessageContentClass = "urn:content-classes:message";
inline constexpr const char* kFolderContentClass = "urn:content-classes:folder";

}  // namespace varnolt
