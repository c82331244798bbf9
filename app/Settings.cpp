// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "Settings.h"

#include <optional>

namespace {

// A stored integer, or none for anything that is not one (text, lists, overflow).
std::optional<std::int64_t> storedInteger(const QVariant& value) {
    bool ok = false;
    const qlonglong n = value.toLongLong(&ok);
    if (!ok) return std::nullopt;
    return n;
}

// True only for a stored boolean true, which the file holds as the text "true".
bool storedTrue(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    return value.typeId() == QMetaType::QString && value.toString() == QLatin1String("true");
}

void write(const QString& key, const QVariant& value) {
    QSettings settings = Settings::open();
    settings.setValue(key, value);
    settings.sync();
}

} // namespace

QSettings Settings::open() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, organization, application);
}

Settings::Values Settings::read() {
    const QSettings settings = open();
    Values values;
    for (auto [key, text] : {std::pair{&selectionKey, &values.selection}, std::pair{&referenceKey, &values.reference}})
        if (const QVariant value = settings.value(*key); value.canConvert<QString>()) *text = value.toString();
    values.signature = tactimo::TimeSignature::fromStored(storedInteger(settings.value(numeratorKey)),
                                                          storedInteger(settings.value(denominatorKey)));
    values.historyOpen = storedTrue(settings.value(historyKey));
    values.syncOpen = storedTrue(settings.value(syncKey));
    values.linkOn = storedTrue(settings.value(linkKey));
    return values;
}

void Settings::writeSelection(const QString& selection) {
    write(selectionKey, selection);
}

void Settings::writeNumerator(std::int64_t numerator) {
    write(numeratorKey, QVariant::fromValue(qint64(numerator)));
}

void Settings::writeDenominator(std::int64_t denominator) {
    write(denominatorKey, QVariant::fromValue(qint64(denominator)));
}

void Settings::writeHistoryOpen(bool open) {
    write(historyKey, open);
}

void Settings::writeSyncOpen(bool open) {
    write(syncKey, open);
}

void Settings::writeReference(const QString& reference) {
    write(referenceKey, reference);
}

void Settings::writeLinkOn(bool on) {
    write(linkKey, on);
}
