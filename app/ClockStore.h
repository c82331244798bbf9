// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "BarPositionValue.h"
#include "ClockState.h"
#include "ClockStatusValue.h"
#include "HistoryFollower.h"
#include "InputListModel.h"
#include "SyncFollower.h"
#include "TempoHistory.h"
#include "core/ClockInput.h"
#include "core/ClockStatus.h"
#include "core/MidiService.h"
#include "core/TimeSignature.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QtQmlIntegration/qqmlintegration.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The window's model: the inputs, the user's choices (remembered in the
// settings) and the clock status, derived thirty times a second.
class ClockStore : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application creates the one store")
    // Every assignment notifies, also of an equal value; only status and
    // barPosition are compared first.
    Q_PROPERTY(QString selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(qint64 numerator READ numerator WRITE setNumerator NOTIFY numeratorChanged)
    Q_PROPERTY(qint64 denominator READ denominator WRITE setDenominator NOTIFY denominatorChanged)
    Q_PROPERTY(ClockStatusValue status READ status NOTIFY statusChanged)
    // The status's state, for comparison with ClockState values.
    Q_PROPERTY(ClockState::State state READ state NOTIFY statusChanged)
    Q_PROPERTY(bool missingSelection READ missingSelection NOTIFY missingSelectionChanged)
    // Whether any MIDI service is reachable; notifies only when it changes.
    Q_PROPERTY(bool serviceReachable READ serviceReachable NOTIFY serviceReachableChanged)
    Q_PROPERTY(QString serviceNotice READ serviceNotice NOTIFY serviceReachableChanged)
    // The input picker's rows, kept in step with the sources and the selection.
    Q_PROPERTY(InputListModel* inputs READ inputs CONSTANT)
    // The song position under the signature, as the position view shows it.
    Q_PROPERTY(BarPositionValue barPosition READ barPosition NOTIFY barPositionChanged)
    // Whether the history section is open; remembered. Notifies only when it changes.
    Q_PROPERTY(bool historyOpen READ historyOpen WRITE setHistoryOpen NOTIFY historyOpenChanged)
    // The followed source's last minute, kept only while the history is open.
    Q_PROPERTY(TempoHistory* history READ history CONSTANT)
    // The Sync section: the followed clock against a reference, and Link.
    Q_PROPERTY(SyncFollower* sync READ sync CONSTANT)

public:
    static constexpr int refreshIntervalMs = 33; // 1/30 s

    // clock: the host clock the intake reads; tests pass their own.
    explicit ClockStore(std::unique_ptr<tactimo::MidiService> service, tactimo::ClockInput::HostClock clock = {},
                        QObject* parent = nullptr);
    ~ClockStore() override;

    const std::vector<tactimo::MIDISource>& sourceList() const { return sources_; }

    QString selection() const { return QString::fromStdString(selection_); }
    void setSelection(const QString& selection);

    qint64 numerator() const { return signature_.numerator; }
    void setNumerator(qint64 numerator);
    qint64 denominator() const { return signature_.denominator; }
    void setDenominator(qint64 denominator);

    ClockStatusValue status() const { return ClockStatusValue(status_, selection_); }
    const tactimo::ClockStatus& currentStatus() const { return status_; }
    ClockState::State state() const { return ClockState::fromCore(status_.state); }

    bool missingSelection() const;

    bool serviceReachable() const { return serviceReachable_; }
    QString serviceNotice() const;
    InputListModel* inputs() { return &inputs_; }

    BarPositionValue barPosition() const { return BarPositionValue(barPosition_); }

    bool historyOpen() const { return follower_.isOpen(); }
    void setHistoryOpen(bool open);
    TempoHistory* history() { return follower_.history(); }
    HistoryFollower& historyFollower() { return follower_; }
    SyncFollower* sync() { return &sync_; }

    // Derives the status from the intake now; the timer calls it 30 times a second.
    void refresh();

    // What the position view shows: nothing while the clock runs without
    // transport (an older position would mislead) or when there is no position.
    static BarPositionValue::Position barPositionOf(const tactimo::ClockStatus& status,
                                                    const tactimo::TimeSignature& signature);

signals:
    void sourcesChanged();
    void selectionChanged();
    void numeratorChanged();
    void denominatorChanged();
    void statusChanged();
    void missingSelectionChanged();
    void serviceReachableChanged();
    void barPositionChanged();
    void historyOpenChanged();

protected:
    // For tests that show a status of their own: it stays, as the timer stops.
    void publishStatus(const tactimo::ClockStatus& status);

private:
    void takeSources();
    void updateInputs();
    void updateBarPosition();
    // The name the reference picker leaves out.
    std::optional<std::string> followedName() const;

    std::vector<tactimo::MIDISource> sources_;
    std::string selection_;
    tactimo::TimeSignature signature_;
    tactimo::ClockStatus status_;
    BarPositionValue::Position barPosition_;
    InputListModel inputs_;
    tactimo::ClockInput::HostClock clock_;
    std::unique_ptr<tactimo::ClockInput> input_;
    HistoryFollower follower_;
    SyncFollower sync_;
    std::optional<tactimo::SourceKey> activeRef_;
    bool serviceReachable_ = false;
    QTimer timer_;
};
