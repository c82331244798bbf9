// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import Tactimo

Rectangle {
    implicitHeight: 1
    color: Qt.rgba(Theme.label.r, Theme.label.g, Theme.label.b, 0.12)
}
