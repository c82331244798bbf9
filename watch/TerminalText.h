// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tactimo {

// Text that came from elsewhere (source names, arguments), made safe to print
// on one line of a terminal: at most maxCodePoints code points of the
// original, shortened in the middle with "…" when longer; then every control
// character (C0, DEL, C1), line or paragraph separator and bidirectional
// formatting character escaped ("\n", "\t", "\r", "\x1b", "\u202e"), a
// backslash doubled, and each byte that is not valid UTF-8 shown as "\xff".
// Nothing in the result can move the cursor, start an escape sequence, end
// the line or reorder the text around it.
std::string terminalText(std::string_view text, std::size_t maxCodePoints);

// The text shortened as above, without escaping: for output formats that do
// their own escaping. Invalid UTF-8 bytes count as one code point each and
// are kept.
std::string shortenedText(std::string_view text, std::size_t maxCodePoints);

// JSON text with every character that terminalText escapes written as a
// \u escape instead: the same JSON value, but safe to show on a terminal.
// C0 controls, quotes and backslashes must already be escaped, as every JSON
// writer does; structure outside strings is ASCII and stays as it is.
std::string terminalJson(std::string_view json);

// Code points in UTF-8 text, an invalid byte counting as one: the columns it
// takes on a terminal for the characters this program pads (ASCII, "–", "±").
std::size_t codePointCount(std::string_view text);

} // namespace tactimo
