// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "SourceNames.h"

#include "core/UnicodeText.h"

#include <map>

namespace tactimo {

namespace {

constexpr std::string_view ellipsis = "\xE2\x80\xA6"; // U+2026

bool continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The longest head of valid UTF-8 text that fits in limit bytes.
std::string_view head(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && continuation(text[end])) --end;
    return text.substr(0, end);
}

// The longest tail of valid UTF-8 text that fits in limit bytes.
std::string_view tail(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t start = text.size() - limit;
    while (start < text.size() && continuation(text[start])) ++start;
    return text.substr(start);
}

} // namespace

std::string SourceNames::bounded(std::string_view name) {
    // Whatever the size handed to us, only a few kilobytes are looked at.
    constexpr std::size_t rawLimit = 4096;
    std::string text;
    if (name.size() > rawLimit) {
        text = canonicalText(std::string(name.substr(0, rawLimit / 2)) + std::string(ellipsis) +
                             std::string(name.substr(name.size() - rawLimit / 2)));
    } else {
        text = canonicalText(name);
    }
    if (text.size() <= maxBytes) return text;
    const std::size_t room = maxBytes - ellipsis.size();
    const std::string_view front = head(text, room - room / 3);
    const std::string_view back = tail(text, room - front.size());
    return std::string(front) + std::string(ellipsis) + std::string(back);
}

SourceNames::Forms SourceNames::plain(const std::optional<std::string>& shown, const std::optional<std::string>& full) {
    Forms forms{shown ? bounded(*shown) : std::string(), full ? bounded(*full) : std::string()};
    if (forms.full.empty()) forms.full = forms.shown;
    return forms;
}

std::vector<std::string> SourceNames::distinct(std::span<const Forms> sources) {
    std::vector<std::string> names;
    names.reserve(sources.size());
    for (const Forms& source : sources) names.push_back(source.shown);
    // A long form may equal another source's short one: repeat until no name
    // stands for two different long forms. Each round moves at least one
    // source to its long form, for good.
    for (bool changed = true; changed;) {
        changed = false;
        std::map<std::string_view, std::vector<std::size_t>> byName;
        for (std::size_t i = 0; i < names.size(); ++i) byName[names[i]].push_back(i);
        std::vector<std::size_t> lengthen;
        for (const auto& [name, members] : byName) {
            bool differ = false;
            for (const std::size_t i : members) differ |= sources[i].full != sources[members.front()].full;
            if (!differ) continue;
            for (const std::size_t i : members)
                if (names[i] != sources[i].full) lengthen.push_back(i);
        }
        for (const std::size_t i : lengthen) names[i] = sources[i].full;
        changed = !lengthen.empty();
    }
    return names;
}

} // namespace tactimo
