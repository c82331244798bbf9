// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "TerminalText.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace tactimo {

namespace {

// One code point of UTF-8 text, or one invalid byte (codePoint < 0).
struct Unit {
    std::size_t offset;
    std::size_t length;
    std::int32_t codePoint;
};

// Decodes strictly: no overlong forms, no surrogates, nothing above U+10FFFF.
Unit decodeAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return {at, 1, lead};
    std::size_t length = 0;
    std::int32_t cp = 0, min = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, cp = lead & 0x1F, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, cp = lead & 0x0F, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, cp = lead & 0x07, min = 0x10000;
    else
        return {at, 1, -1};
    if (at + length > text.size()) return {at, 1, -1};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return {at, 1, -1};
        cp = (cp << 6) | (byte(at + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {at, 1, -1};
    return {at, length, cp};
}

std::vector<Unit> units(std::string_view text) {
    std::vector<Unit> result;
    for (std::size_t at = 0; at < text.size(); at += result.back().length) result.push_back(decodeAt(text, at));
    return result;
}

bool needsEscape(std::int32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)            // C0, DEL, C1
           || cp == 0x2028 || cp == 0x2029                    // line and paragraph separators
           || cp == 0x200E || cp == 0x200F                    // left-to-right and right-to-left marks
           || (cp >= 0x202A && cp <= 0x202E)                  // embeddings and overrides
           || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x061C; // isolates, Arabic letter mark
}

void appendEscaped(std::string& out, std::string_view text, const Unit& u) {
    std::array<char, 16> buffer{};
    if (u.codePoint < 0) {
        std::snprintf(buffer.data(), buffer.size(), "\\x%02x", static_cast<unsigned char>(text[u.offset]));
        out += buffer.data();
    } else if (u.codePoint == '\\') {
        out += "\\\\";
    } else if (!needsEscape(u.codePoint)) {
        out.append(text.substr(u.offset, u.length));
    } else if (u.codePoint == '\n') {
        out += "\\n";
    } else if (u.codePoint == '\t') {
        out += "\\t";
    } else if (u.codePoint == '\r') {
        out += "\\r";
    } else {
        std::snprintf(buffer.data(), buffer.size(), u.codePoint < 0x80 ? "\\x%02x" : "\\u%04x",
                      static_cast<unsigned>(u.codePoint));
        out += buffer.data();
    }
}

constexpr std::string_view ellipsis = "\xE2\x80\xA6"; // …

// The units to keep: all, or a head and a tail around the ellipsis.
template <typename Append>
void shorten(std::string_view text, std::size_t maxCodePoints, Append append, std::string& out) {
    const std::vector<Unit> all = units(text);
    if (all.size() <= maxCodePoints) {
        for (const Unit& u : all) append(u);
        return;
    }
    const std::size_t kept = maxCodePoints > 0 ? maxCodePoints - 1 : 0; // the ellipsis takes one
    const std::size_t head = (kept + 1) / 2, tail = kept / 2;
    for (std::size_t i = 0; i < head; ++i) append(all[i]);
    if (maxCodePoints > 0) out += ellipsis;
    for (std::size_t i = all.size() - tail; i < all.size(); ++i) append(all[i]);
}

} // namespace

std::string terminalText(std::string_view text, std::size_t maxCodePoints) {
    std::string out;
    out.reserve(text.size());
    shorten(
        text, maxCodePoints, [&](const Unit& u) { appendEscaped(out, text, u); }, out);
    return out;
}

std::string shortenedText(std::string_view text, std::size_t maxCodePoints) {
    std::string out;
    out.reserve(text.size());
    shorten(
        text, maxCodePoints, [&](const Unit& u) { out.append(text.substr(u.offset, u.length)); }, out);
    return out;
}

std::string terminalJson(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    std::array<char, 16> buffer{};
    for (std::size_t at = 0; at < json.size();) {
        const Unit u = decodeAt(json, at);
        if (u.codePoint >= 0x7F && needsEscape(u.codePoint)) {
            std::snprintf(buffer.data(), buffer.size(), "\\u%04x", static_cast<unsigned>(u.codePoint));
            out += buffer.data();
        } else {
            out.append(json.substr(at, u.length));
        }
        at += u.length;
    }
    return out;
}

std::size_t codePointCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); at += decodeAt(text, at).length) ++count;
    return count;
}

} // namespace tactimo
