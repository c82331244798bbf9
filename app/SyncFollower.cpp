// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "SyncFollower.h"

#include "Settings.h"

#include <cmath>
#include <utility>

SyncFollower::SyncFollower(QObject* parent)
    : QObject(parent),
      references_(this, InputListModel::Purpose::reference) {
    // Read once; nothing is written back here.
    const Settings::Values stored = Settings::read();
    open_ = stored.syncOpen;
    reference_ = tactimo::ReferenceClock(stored.reference.toStdString());
    if (stored.linkOn) link_.setOn(true);
    notice_ = tactimo::SyncText::notice({}, {});
    updateReferences({}, {});
}

void SyncFollower::setOpen(bool open) {
    if (open == open_) return;
    open_ = open;
    Settings::writeSyncOpen(open);
    emit openChanged();
}

void SyncFollower::setReference(const QString& name) {
    tactimo::ReferenceClock next(name.toStdString());
    if (next.name() == reference_.name()) return;
    reference_ = std::move(next);
    Settings::writeReference(reference());
    offsets_.clear();
    publish({}, tactimo::SyncText::notice({}, reference_.name()));
    updateReferences(sources_, followedName_);
    emit referenceChanged();
}

void SyncFollower::setLinkOn(bool on) {
    if (on == link_.isOn()) return;
    Settings::writeLinkOn(on);
    link_.setOn(on);
    emit linkOnChanged();
}

QVariantList SyncFollower::figures() const {
    QVariantList list;
    for (const auto& f : figures_)
        list << QVariantMap{{QStringLiteral("label"), QString::fromStdString(f.label)},
                            {QStringLiteral("value"), QString::fromStdString(f.value)}};
    return list;
}

void SyncFollower::refresh(const tactimo::Readings& readings, std::optional<tactimo::SourceKey> followed, double now) {
    const auto session = link_.timeline();
    std::string linkText = tactimo::SyncText::link(session);
    std::optional<double> phase;
    if (session && session->peers > 0) {
        const double p = session->phaseAt(now);
        if (std::isfinite(p)) phase = p;
    }
    if (linkText != linkText_ || phase != linkPhase_) {
        linkText_ = std::move(linkText);
        linkPhase_ = phase;
        emit linkChanged();
    }

    const auto reading = reference_.compare(readings, followed, session, now);
    if (reading.restarted) offsets_.clear();
    offsets_.note(now, reading.comparison);
    publish(reading.comparison ? tactimo::SyncText::figures(*reading.comparison)
                               : std::vector<tactimo::SyncText::Figure>{},
            tactimo::SyncText::notice(reading, reference_.name()));
}

void SyncFollower::updateReferences(const std::vector<tactimo::MIDISource>& sources,
                                    const std::optional<std::string>& followed) {
    sources_ = sources;
    followedName_ = followed;
    const std::string& name = reference_.name();
    const bool missing = reference_.kind() == tactimo::ReferenceClock::Kind::input &&
                         std::none_of(sources.begin(), sources.end(), [&](const auto& s) { return s.name == name; });
    references_.update(sources, name, missing, followed.value_or(std::string()));
}

void SyncFollower::publish(std::vector<tactimo::SyncText::Figure> figures, std::string notice) {
    if (figures == figures_ && notice == notice_) return;
    figures_ = std::move(figures);
    notice_ = std::move(notice);
    emit figuresChanged();
}
