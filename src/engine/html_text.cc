#include "engine/html_text.h"

#include <algorithm>

#include "engine/text_tokens.h"

namespace varnolt::engine {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// Tags that style a run of text without breaking it.
bool IsInlineTag(std::string_view name) {
  static constexpr std::string_view kInline[] = {"a",     "abbr", "b",      "big", "em",  "font", "i",  "s",
                                                 "small", "span", "strike", "strong", "sub", "sup", "tt", "u"};
  return std::find(std::begin(kInline), std::end(kInline), name) != std::end(kInline);
}

// Finds the ">" that ends a tag starting at text[start], skipping quoted values.
size_t FindTagEnd(std::string_view text, size_t start) {
  char quote = 0;
  for (size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return std::string_view::npos;
}

size_t FindNoCase(std::string_view text, std::string_view needle, size_t from) {
  const auto it = std::search(text.begin() + std::min(from, text.size()), text.end(), needle.begin(), needle.end(),
                              [](char a, char b) { return (a | 0x20) == (b | 0x20); });
  return it == text.end() ? std::string_view::npos : static_cast<size_t>(it - text.begin());
}

void AddAttributeHints(std::string_view tag, std::string_view name, std::string_view value, TokenSink& sink) {
  if (name == "href" || name == "src" || name == "action" || name == "background") {
    if (FoldCase(value.substr(0, 7)) == "mailto:") sink.Add("html:", "mailto");
    AddUrlHosts(value, sink);
  } else if (name == "color" || name == "bgcolor" || name == "text") {
    sink.Add("html:color:", FoldCase(value.substr(0, 12)));
  } else if (name == "size" && tag == "font") {
    sink.Add("html:fontsize:", value.substr(0, 4));
  } else if (name == "style") {
    const std::string style = FoldCase(value);
    std::string compact;
    std::copy_if(style.begin(), style.end(), std::back_inserter(compact), [](char c) { return !IsBlank(c); });
    if (compact.find("display:none") != std::string::npos || compact.find("visibility:hidden") != std::string::npos) {
      sink.Add("html:", "hidden");
    }
    AddWords(style, "css:", WordLimits{}, sink);
  } else if ((name == "width" || name == "height") && tag == "img" && (value == "1" || value == "0")) {
    sink.Add("html:", "tinyimage");
  }
}

// Reads the attributes of one tag (the text between its name and ">").
void ParseAttributes(std::string_view tag, std::string_view inside, TokenSink& sink) {
  size_t pos = 0;
  while (pos < inside.size()) {
    while (pos < inside.size() && (IsBlank(inside[pos]) || inside[pos] == '/')) ++pos;
    const size_t name_start = pos;
    while (pos < inside.size() && !IsBlank(inside[pos]) && inside[pos] != '=' && inside[pos] != '/') ++pos;
    if (pos == name_start) {
      ++pos;
      continue;
    }
    const std::string name = FoldCase(inside.substr(name_start, pos - name_start));
    while (pos < inside.size() && IsBlank(inside[pos])) ++pos;
    std::string_view value;
    if (pos < inside.size() && inside[pos] == '=') {
      ++pos;
      while (pos < inside.size() && IsBlank(inside[pos])) ++pos;
      if (pos < inside.size() && (inside[pos] == '"' || inside[pos] == '\'')) {
        const char quote = inside[pos++];
        const size_t end = std::min(inside.find(quote, pos), inside.size());
        value = inside.substr(pos, end - pos);
        pos = end + 1;
      } else {
        const size_t start = pos;
        while (pos < inside.size() && !IsBlank(inside[pos])) ++pos;
        value = inside.substr(start, pos - start);
      }
    }
    AddAttributeHints(tag, name, DecodeEntities(value), sink);
  }
}

}  // namespace

bool LooksLikeHtml(std::string_view text) {
  static constexpr std::string_view kMarks[] = {"<html", "<body", "<br",  "<p>",  "<p ",     "<div",
                                                "<font", "<table", "<a ", "<img", "<center", "<!doctype"};
  const std::string_view head = text.substr(0, 65536);
  for (size_t lt = head.find('<'); lt != std::string_view::npos; lt = head.find('<', lt + 1)) {
    const std::string start = FoldCase(head.substr(lt, 9));
    for (std::string_view mark : kMarks) {
      if (std::string_view(start).substr(0, mark.size()) == mark) return true;
    }
  }
  return false;
}

std::string HtmlToText(std::string_view html, TokenSink& sink) {
  std::string text;
  text.reserve(html.size());
  size_t pos = 0;
  while (pos < html.size()) {
    const size_t lt = html.find('<', pos);
    AppendDecodedEntities(html.substr(pos, lt == std::string_view::npos ? std::string_view::npos : lt - pos), text);
    if (lt == std::string_view::npos) break;
    pos = lt;
    if (html.substr(pos, 4) == "<!--") {
      sink.Add("html:", "comment");
      const size_t end = html.find("-->", pos + 4);
      pos = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    const bool closing = pos + 1 < html.size() && html[pos + 1] == '/';
    const size_t name_start = pos + (closing ? 2 : 1);
    const bool markup = name_start < html.size() && (IsAsciiLetter(html[name_start]) || html[name_start] == '!' ||
                                                     html[name_start] == '?');
    const size_t end = markup ? FindTagEnd(html, name_start) : std::string_view::npos;
    if (end == std::string_view::npos) {
      text += '<';
      ++pos;
      continue;
    }
    size_t name_end = name_start;
    while (name_end < end && !IsBlank(html[name_end]) && html[name_end] != '/') ++name_end;
    const std::string name = FoldCase(html.substr(name_start, std::min<size_t>(name_end - name_start, 12)));
    pos = end + 1;
    if (!IsInlineTag(name)) text += ' ';
    if (closing || name.empty() || name[0] == '!' || name[0] == '?') continue;
    sink.Add("html:", name);
    ParseAttributes(name, html.substr(name_end, end - name_end), sink);
    if (name == "script" || name == "style") {
      const size_t close = FindNoCase(html, "</" + name, pos);
      pos = close == std::string_view::npos ? html.size() : close;
    }
  }
  return text;
}

}  // namespace varnolt::engine
