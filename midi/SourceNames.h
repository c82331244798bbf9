// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tactimo {

// What is shown of the names that backends report. They come from other
// programs and devices, so the system service passes every one through here
// before anyone sees it: bounded, made valid text, and distinct where two
// sources would share a name by accident.
struct SourceNames {
    // Bytes of UTF-8 at most; longer names lose their middle, since two ports
    // of one device tend to differ at the end.
    static constexpr std::size_t maxBytes = 160;

    // Valid, canonical UTF-8 of at most maxBytes.
    static std::string bounded(std::string_view name);

    // A source's name as shown, and its long form (equal where it has none).
    struct Forms {
        std::string shown;
        std::string full;
    };
    // A source's names as a backend reports them (any bytes; none for a
    // source without), bounded; the long form is the shown one where there
    // is none.
    static Forms plain(const std::optional<std::string>& shown, const std::optional<std::string>& full);
    // The names to list: each source's shown name, except that sources whose
    // shown names are equal while their long forms differ are listed by their
    // long forms. Two sources with the same long form (two units of one
    // device model) keep sharing a name.
    static std::vector<std::string> distinct(std::span<const Forms> sources);
};

} // namespace tactimo
