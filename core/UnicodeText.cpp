// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "UnicodeText.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>

namespace tactimo {

namespace {

// Replaces every byte that does not start a valid UTF-8 sequence by U+FFFD.
std::string replaceInvalid(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(bytes, left, &codePoint);
        if (length > 0) {
            valid.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
        } else {
            valid += "\xEF\xBF\xBD";
        }
        const utf8proc_ssize_t step = length > 0 ? length : 1;
        bytes += step;
        left -= step;
    }
    return valid;
}

} // namespace

std::string canonicalText(std::string_view text) {
    // Plain ASCII is already valid and in NFC: the usual case costs one scan.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(text);

    const std::string valid = replaceInvalid(text);
    utf8proc_uint8_t* composed = nullptr;
    const utf8proc_ssize_t length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(valid.data()),
                                                 static_cast<utf8proc_ssize_t>(valid.size()), &composed,
                                                 static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (length < 0) return valid; // cannot happen on valid input; keep the text rather than lose it
    std::string result(reinterpret_cast<const char*>(composed), static_cast<std::size_t>(length));
    std::free(composed);
    return result;
}

} // namespace tactimo
