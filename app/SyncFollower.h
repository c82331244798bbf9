// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "InputListModel.h"
#include "core/ClockReading.h"
#include "core/OffsetHistory.h"
#include "core/ReferenceClock.h"
#include "core/SyncText.h"
#include "link/LinkSession.h"

#include <QObject>
#include <QString>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>
#include <string>
#include <vector>

// The Sync section's model: the reference the followed clock is compared
// with and the Link switch (both remembered, like whether the section is
// open), the comparison's figures and words at every refresh, the offset's
// last minute for the History, and the Link session while Link is on.
class SyncFollower : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The store keeps the one sync follower")
    // Each notifies only when it changes.
    Q_PROPERTY(bool open READ isOpen WRITE setOpen NOTIFY openChanged)
    // The reference's name: empty for none, "link" for the Link session.
    Q_PROPERTY(QString reference READ reference WRITE setReference NOTIFY referenceChanged)
    Q_PROPERTY(InputListModel* references READ references CONSTANT)
    Q_PROPERTY(bool linkOn READ linkOn WRITE setLinkOn NOTIFY linkOnChanged)
    // [{label, value}] as SyncText gives them; empty without a comparison.
    Q_PROPERTY(QVariantList figures READ figures NOTIFY figuresChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY figuresChanged)
    // The session: "120.00 BPM · 2 peers" or "No Link peers"; empty while off.
    Q_PROPERTY(QString linkText READ linkText NOTIFY linkChanged)
    // The beat within the session's bar, in [0, 4); undefined while alone or off.
    Q_PROPERTY(QVariant linkPhase READ linkPhase NOTIFY linkChanged)

public:
    explicit SyncFollower(QObject* parent = nullptr);

    bool isOpen() const { return open_; }
    void setOpen(bool open);
    QString reference() const { return QString::fromStdString(reference_.name()); }
    void setReference(const QString& name);
    InputListModel* references() { return &references_; }
    bool linkOn() const { return link_.isOn(); }
    void setLinkOn(bool on);

    QVariantList figures() const;
    QString notice() const { return QString::fromStdString(notice_); }
    QString linkText() const { return QString::fromStdString(linkText_); }
    QVariant linkPhase() const { return linkPhase_ ? QVariant(*linkPhase_) : QVariant(); }

    const tactimo::OffsetHistory& offsets() const { return offsets_; }

    // At every refresh: the followed source of this snapshot (seconds, host clock).
    void refresh(const tactimo::Readings& readings, std::optional<tactimo::SourceKey> followed, double now);
    // When the sources or the followed input's name change.
    void updateReferences(const std::vector<tactimo::MIDISource>& sources, const std::optional<std::string>& followed);

signals:
    void openChanged();
    void referenceChanged();
    void linkOnChanged();
    void figuresChanged();
    void linkChanged();

private:
    void publish(std::vector<tactimo::SyncText::Figure> figures, std::string notice);

    bool open_ = false;
    tactimo::ReferenceClock reference_;
    InputListModel references_;
    tactimo::LinkSession link_;
    tactimo::OffsetHistory offsets_;
    std::vector<tactimo::MIDISource> sources_;
    std::optional<std::string> followedName_;
    std::vector<tactimo::SyncText::Figure> figures_;
    std::string notice_;
    std::string linkText_;
    std::optional<double> linkPhase_;
};
