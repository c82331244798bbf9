// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>
#include <string_view>

namespace tactimo {

// Names enter the system through here (from the MIDI service, from the
// settings), so that inside it canonically equivalent names are equal bytes
// and byte order is code-point order. Invalid UTF-8 becomes U+FFFD.
std::string canonicalText(std::string_view text);

} // namespace tactimo
