// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/TimeSignature.h"

#include <QSettings>
#include <QString>

#include <cstdint>

// The remembered settings: the one place that knows where they live,
// their keys, and what is accepted when they are read. Stored in Qt's native
// format for the organization and application below (on Linux
// ~/.config/Tactimo/Tactimo.conf), one plain value per key.
class Settings {
public:
    static inline const QString organization = QStringLiteral("Tactimo");
    static inline const QString application = QStringLiteral("Tactimo");

    static inline const QString selectionKey = QStringLiteral("selection");     // text; empty: all inputs
    static inline const QString numeratorKey = QStringLiteral("numerator");     // integer
    static inline const QString denominatorKey = QStringLiteral("denominator"); // integer
    static inline const QString historyKey = QStringLiteral("history");         // true: the history is open
    static inline const QString syncKey = QStringLiteral("sync");               // true: the Sync section is open
    static inline const QString referenceKey = QStringLiteral("compareWith");   // text; empty: none
    static inline const QString linkKey = QStringLiteral("link");               // true: Link is on

    struct Values {
        QString selection;                // as stored; any text
        tactimo::TimeSignature signature; // out of range, absent or no integer: the fallback
        bool historyOpen = false;         // only a stored true opens it
        bool syncOpen = false;            // the same
        QString reference;                // as stored; any text
        bool linkOn = false;              // only a stored true turns it on
    };

    // Reads them all; writes nothing, whatever the file holds.
    static Values read();

    // Each written at once, as given.
    static void writeSelection(const QString& selection);
    static void writeNumerator(std::int64_t numerator);
    static void writeDenominator(std::int64_t denominator);
    static void writeHistoryOpen(bool open);
    static void writeSyncOpen(bool open);
    static void writeReference(const QString& reference);
    static void writeLinkOn(bool on);

    static QSettings open();
};
