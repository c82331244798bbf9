// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "SequencerPortName.h"

namespace tactimo {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

std::string SequencerPortName::shown(std::string_view client, std::string_view port) {
    client = trimmed(client);
    port = trimmed(port);
    if (client.empty() || port.starts_with(client)) return std::string(port.empty() ? client : port);
    return full(client, port);
}

std::string SequencerPortName::full(std::string_view client, std::string_view port) {
    client = trimmed(client);
    port = trimmed(port);
    if (client.empty()) return std::string(port);
    if (port.empty()) return std::string(client);
    return std::string(client) + ":" + std::string(port);
}

} // namespace tactimo
