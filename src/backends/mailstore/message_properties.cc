#include "backends/mailstore/message_properties.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <limits>
#include <mutex>
#include <optional>
#include <set>

#include "backends/mailstore/raw_headers.h"
#include "backends/mailstore/store_names.h"
#include "store/property_names.h"

namespace varnolt::mailstore {
namespace {

constexpr int32_t kMessageFlagHasAttachment = 0x10;

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// Takes ownership of a glib string.
std::string Adopt(char* text) {
  if (!text) return "";
  std::string out(text);
  g_free(text);
  return out;
}

std::optional<std::string> Convert(std::string_view bytes, const char* from) {
  if (bytes.empty()) return std::string();  // an empty part may come without any buffer at all
  gsize written = 0;
  char* out = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", from, nullptr, &written, nullptr);
  if (!out) return std::nullopt;
  std::string text(out, written);
  g_free(out);
  return text;
}

// Bytes in the declared charset (or none) as UTF-8; undeclared or broken
// 8-bit text is read as UTF-8 when valid, else as Windows-1252/Latin-1.
std::string ToUtf8(std::string_view bytes, const char* charset) {
  if (charset && *charset) {
    if (auto text = Convert(bytes, g_mime_charset_iconv_name(charset))) return *text;
  }
  if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return std::string(bytes);
  if (auto text = Convert(bytes, "WINDOWS-1252")) return *text;
  return Convert(bytes, "ISO-8859-1").value_or("");
}

// An unfolded header value is one line: control characters other than the tab,
// those an encoded word smuggled in (CR LF) included, become blanks, so that no
// reader of a header property (the sender's address in a whitelist line) meets
// a line break.
std::string DecodeHeaderValue(const std::string& raw) {
  const std::string unfolded = UnfoldValue(raw);
  std::string decoded = ToUtf8(Adopt(g_mime_utils_header_decode_text(nullptr, unfolded.c_str())), nullptr);
  for (char& c : decoded) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) c = ' ';
  }
  return decoded;
}

struct Bodies {
  std::optional<std::string> plain;
  std::optional<std::string> html;
  bool has_attachment = false;
};

// The part's bytes with the transfer encoding undone, the first max of
// them: decoding stops there, so a huge part costs no more than max.
std::string DecodedBytes(GMimeDataWrapper* wrapper, size_t max) {
  GMimeStream* source = g_mime_data_wrapper_get_stream(wrapper);
  if (!source) return "";
  GMimeFilter* decoder = nullptr;
  switch (g_mime_data_wrapper_get_encoding(wrapper)) {
    case GMIME_CONTENT_ENCODING_BASE64:
    case GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE:
    case GMIME_CONTENT_ENCODING_UUENCODE:
      decoder = g_mime_filter_basic_new(g_mime_data_wrapper_get_encoding(wrapper), FALSE);
      break;
    default:
      break;
  }
  std::string out;
  g_mime_stream_reset(source);
  char buffer[65536];
  for (bool end = false; !end && out.size() < max;) {
    const ssize_t n = g_mime_stream_read(source, buffer, sizeof buffer);
    end = n <= 0;
    char* data = buffer;
    size_t length = n > 0 ? static_cast<size_t>(n) : 0;
    size_t prespace = 0;
    if (decoder != nullptr && end) {
      g_mime_filter_complete(decoder, buffer, 0, 0, &data, &length, &prespace);
    } else if (decoder != nullptr) {
      g_mime_filter_filter(decoder, buffer, length, 0, &data, &length, &prespace);
    }
    out.append(data, std::min(length, max - out.size()));
  }
  if (decoder != nullptr) g_object_unref(decoder);
  return out;
}

// At most max bytes of UTF-8 text, cut before a character that would not fit.
void CutAtCharacter(std::string& text, size_t max) {
  if (text.size() <= max) return;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
}

std::string DecodedText(GMimePart* part) {
  GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
  if (!wrapper) return "";
  // One byte more than is kept tells a text that was cut from one that fits.
  std::string bytes = DecodedBytes(wrapper, kMaxBodyTextBytes + 1);
  const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
  std::string text;
  if (bytes.size() <= kMaxBodyTextBytes) {
    text = ToUtf8(bytes, charset);
  } else {
    // The cut may fall inside a character: the whole ones before it convert.
    bytes.resize(kMaxBodyTextBytes);
    std::optional<std::string> converted;
    for (size_t cut = 0; charset && *charset && cut < 4 && !converted; ++cut) {
      converted = Convert(std::string_view(bytes).substr(0, bytes.size() - cut), g_mime_charset_iconv_name(charset));
    }
    if (!converted) CutAtCharacter(bytes, bytes.size() - 1);
    text = converted ? std::move(*converted) : ToUtf8(bytes, nullptr);
  }
  CutAtCharacter(text, kMaxBodyTextBytes);
  return text;
}

void CollectBodies(GMimeObject* object, Bodies* bodies) {
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const int count = g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i) CollectBodies(g_mime_multipart_get_part(multipart, i), bodies);
    return;
  }
  if (GMIME_IS_MESSAGE_PART(object)) {
    bodies->has_attachment = true;  // an attached message; its own bodies are not ours
    return;
  }
  if (!GMIME_IS_PART(object)) return;
  GMimePart* part = GMIME_PART(object);
  if (g_mime_part_is_attachment(part)) {
    bodies->has_attachment = true;
    return;
  }
  GMimeContentType* type = g_mime_object_get_content_type(object);
  if (type && g_mime_content_type_is_type(type, "text", "plain")) {
    if (!bodies->plain) bodies->plain = DecodedText(part);
  } else if (type && g_mime_content_type_is_type(type, "text", "html")) {
    if (!bodies->html) bodies->html = DecodedText(part);
  }
}

// A memory stream that reads the caller's bytes in place (GMime's own would
// copy the whole message); the parser reads the parts as pieces of it. The
// array is never the stream's own, so GMime neither frees nor grows it.
GMimeStream* StreamOver(std::string_view content, GByteArray* array) {
  GMimeStream* stream = g_mime_stream_mem_new();
  array->data = reinterpret_cast<guint8*>(const_cast<char*>(content.data()));
  array->len = static_cast<guint>(content.size());
  g_mime_stream_mem_set_byte_array(GMIME_STREAM_MEM(stream), array);
  return stream;
}

// The start of the message up to the line that could open its
// kMaxMimeParts-th part: every boundary line starts with "--".
std::string_view WithinPartLimit(std::string_view content) {
  size_t lines = content.substr(0, 2) == "--" ? 1 : 0;
  for (size_t pos = content.find("\n--"); pos != std::string_view::npos; pos = content.find("\n--", pos + 1)) {
    if (++lines == kMaxMimeParts) return content.substr(0, pos + 1);
  }
  return content;
}

Bodies ParseBodies(std::string_view whole) {
  Bodies bodies;
  const std::string_view content = WithinPartLimit(whole);
  // The store refuses contents of 4 GiB and more long before (SQLite's
  // limit): a GByteArray's length would not hold them.
  if (content.size() > std::numeric_limits<guint>::max()) return bodies;
  GByteArray array{};
  GMimeStream* stream = StreamOver(content, &array);
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  g_mime_parser_set_format(parser, GMIME_FORMAT_MESSAGE);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  if (message) {
    if (GMimeObject* body = g_mime_message_get_mime_part(message)) CollectBodies(body, &bodies);
    g_object_unref(message);
  }
  g_object_unref(parser);
  g_object_unref(stream);
  return bodies;
}

}  // namespace

MessageTexts DeriveMessageTexts(std::string_view content) {
  InitGMime();
  MessageTexts texts;
  texts.header_block = std::string(content.substr(0, std::min(HeaderBlockLength(content), kMaxHeaderBlockBytes)));
  // The MIME parser knows no lone-CR line ends; it reads a copy with LFs.
  std::string lf_copy;
  if (HasCrLineEnds(content)) {
    lf_copy.assign(content);
    std::replace(lf_copy.begin(), lf_copy.end(), '\r', '\n');
  }
  Bodies bodies = ParseBodies(lf_copy.empty() ? content : std::string_view(lf_copy));
  texts.plain_body = std::move(bodies.plain);
  texts.html_body = std::move(bodies.html);
  texts.has_attachment = bodies.has_attachment;
  return texts;
}

PropertyList DeriveMessageProperties(std::string_view content, bool outside) {
  InitGMime();
  PropertyList properties;
  properties.emplace_back(kContentClassField, Variant::Text(kMessageContentClass));

  const std::string_view block = content.substr(0, std::min(HeaderBlockLength(content), kMaxHeaderBlockBytes));
  std::set<std::string> seen;
  for (const RawHeader& header : ParseHeaderBlock(block)) {
    const std::string key = LowerKey(header.name);
    if (!seen.insert(key).second) continue;  // the first occurrence counts
    const std::string value = DecodeHeaderValue(header.value);
    properties.emplace_back(kMailHeaderPrefix + key, Variant::Text(value));
    if (key == "subject") properties.emplace_back(kSubjectProperty, Variant::Text(value));
  }

  properties.emplace_back(MapiField("x001A001E"), Variant::Text("IPM.Note"));
  MessageTexts texts = DeriveMessageTexts(content);
  if (texts.plain_body) properties.emplace_back(MapiField("x1000001E"), Variant::Text(std::move(*texts.plain_body)));
  if (texts.html_body) properties.emplace_back(MapiField("x1013001E"), Variant::Text(std::move(*texts.html_body)));
  properties.emplace_back(MapiField("x0E070003"),
                          Variant::Int32(texts.has_attachment ? kMessageFlagHasAttachment : 0));
  properties.emplace_back(MapiField("x0C1E001E"), Variant::Text(outside ? "SMTP" : "EX"));
  if (outside) properties.emplace_back(MapiField("x007D001E"), Variant::Text(std::move(texts.header_block)));
  return properties;
}

std::optional<int64_t> MailDateSeconds(const std::string& value) {
  InitGMime();
  GDateTime* date = g_mime_utils_header_decode_date(value.c_str());
  if (!date) return std::nullopt;
  const int64_t seconds = g_date_time_to_unix(date);
  g_date_time_unref(date);
  return seconds;
}

}  // namespace varnolt::mailstore
