// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "Links.h"

// TACTIMO_DONATE_URL is defined for this file alone, so that changing the
// option rebuilds one file.
QUrl Links::donate() {
    return QUrl(QStringLiteral(TACTIMO_DONATE_URL));
}
