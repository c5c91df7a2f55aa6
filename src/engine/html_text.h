// HTML bodies: the visible text for the word tokenizer, and hints about the markup.
#pragma once

#include <string>
#include <string_view>

#include "engine/token_sink.h"

namespace varnolt::engine {

// True when the text carries HTML markup (the filter hands over the HTML body
// whenever a message has one).
bool LooksLikeHtml(std::string_view text);

// Decodes character references (named, decimal, hexadecimal) to UTF-8; "&nbsp;"
// becomes a plain blank. Unknown or malformed references stay as written.
std::string DecodeEntities(std::string_view text);
void AppendDecodedEntities(std::string_view text, std::string& out);

// The visible text of an HTML document with tags, comments, scripts and styles
// removed and entities decoded. Tags that only change the look of a word (b, i,
// font, span...) vanish without a blank, so "V<b></b>iagra" reads as one word;
// comments vanish the same way. Adds markup hints ("html:" + tag, colors, sizes,
// hidden text) and the hosts of link and image URLs to sink.
std::string HtmlToText(std::string_view html, TokenSink& sink);

}  // namespace varnolt::engine
