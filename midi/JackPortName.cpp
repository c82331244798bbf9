// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "JackPortName.h"

#include "core/UnicodeText.h"

namespace tactimo {

namespace {

constexpr std::string_view prefix = "from ";

// The longest head of valid UTF-8 that fits in limit bytes.
std::string_view head(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

} // namespace

std::string JackPortName::forSource(std::string_view sourceName, std::size_t maxBytes) {
    const std::string text = canonicalText(sourceName);
    std::string name(prefix);
    bool space = true; // no space after the prefix's own, none doubled
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // C1 controls are U+0080 to U+009F: 0xC2 0x80 to 0xC2 0x9F.
        const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (byte < 0x20 || byte == 0x7F || byte == ':' || byte == ' ' || c1) {
            if (!space) name += ' ';
            space = true;
            i += c1 ? 1 : 0;
            continue;
        }
        name += text[i];
        space = false;
    }
    while (name.ends_with(' ') && name.size() > prefix.size()) name.pop_back();
    if (name.size() == prefix.size()) name += "source";
    return std::string(head(name, maxBytes));
}

std::string JackPortName::unique(std::string_view base, std::size_t maxBytes,
                                 const std::function<bool(std::string_view)>& taken) {
    std::string name(head(base, maxBytes));
    for (int n = 2; taken(name); ++n) {
        const std::string suffix = " " + std::to_string(n);
        name = std::string(head(base, maxBytes - suffix.size())) + suffix;
    }
    return name;
}

} // namespace tactimo
