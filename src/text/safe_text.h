// Untrusted 8-bit texts (player and room names) made safe for the operator's outputs: JSON
// needs valid UTF-8, a terminal must never receive a control character it would obey, and a line
// must show where a name ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace text {

// Length of the valid UTF-8 sequence at `i` (shortest form, no surrogates), 0 when invalid; its
// code point in `code_point`.
size_t Utf8SequenceLength(std::string_view text, size_t i, uint32_t* code_point);

// Valid UTF-8 sequences kept; every other byte read as Latin-1 (so nothing is lost and the
// result is always valid UTF-8).
std::string JsonSafeText(std::string_view text);

// Whether the code point reorders or breaks what a terminal shows: the bidirectional controls
// (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) and the line and paragraph
// separators (U+2028, U+2029). A name could otherwise show one text and hold another.
bool ReordersOrBreaksText(uint32_t code_point);

// For a terminal: control characters (C0, DEL, C1, in 8-bit or UTF-8 form), the characters of
// ReordersOrBreaksText and bytes that are not UTF-8 written as \xNN (a backslash as \\ unless
// !escape_backslash, for text whose parts were made safe already); line breaks too unless
// keep_line_breaks.
std::string TerminalSafeText(std::string_view text, bool keep_line_breaks = false,
                             bool escape_backslash = true);

// A name for one line of text output: as TerminalSafeText (line breaks escaped too), with the
// double quote written as \" and line breaks and tabs as \n, \r, \t (as the event lines write
// them), so a name can neither end its quotes nor its line.
std::string NameText(std::string_view name);
// NameText in double quotes.
std::string QuotedName(std::string_view name);

}  // namespace text
