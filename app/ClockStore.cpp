// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockStore.h"

#include "Settings.h"
#include "core/StatusText.h"
#include "core/UnicodeText.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <utility>

namespace {

// Work from the MIDI side runs on the store's thread; events for a deleted
// store are dropped by Qt, so nothing runs after it is gone.
tactimo::ClockInput::Post postTo(ClockStore* store) {
    QPointer<ClockStore> self(store);
    return [self](std::function<void()> work) {
        if (self) QMetaObject::invokeMethod(self.data(), std::move(work), Qt::QueuedConnection);
    };
}

std::string canonical(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return tactimo::canonicalText(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

} // namespace

ClockStore::ClockStore(std::unique_ptr<tactimo::MidiService> service, tactimo::ClockInput::HostClock clock,
                       QObject* parent)
    : QObject(parent),
      inputs_(this),
      clock_(clock ? clock : tactimo::ClockInput::HostClock(tactimo::hostClock::now)),
      input_(std::make_unique<tactimo::ClockInput>(std::move(service), postTo(this), clock_)),
      follower_(*input_, clock_) {
    // Read once; nothing is written back here.
    const Settings::Values stored = Settings::read();
    selection_ = canonical(stored.selection);
    signature_ = stored.signature;
    if (stored.historyOpen) follower_.setOpen(true, activeRef_, status_.bpm);
    follower_.showOffsets(&sync_.offsets());

    sources_ = input_->sources();
    serviceReachable_ = input_->serviceReachable();
    updateInputs();
    input_->onSourcesChanged = [this] { takeSources(); };

    timer_.setInterval(refreshIntervalMs);
    connect(&timer_, &QTimer::timeout, this,
            [this] { QMetaObject::invokeMethod(this, &ClockStore::refresh, Qt::QueuedConnection); });
    timer_.start();
}

ClockStore::~ClockStore() {
    timer_.stop();
    // Closes the service before the store's members go.
    input_.reset();
}

void ClockStore::setSelection(const QString& selection) {
    selection_ = canonical(selection);
    Settings::writeSelection(QString::fromStdString(selection_));
    activeRef_.reset();
    status_ = tactimo::ClockStatus{};
    follower_.startOverFromNow();
    updateInputs();
    emit selectionChanged();
    emit missingSelectionChanged();
    emit statusChanged();
    updateBarPosition();
}

void ClockStore::setNumerator(qint64 numerator) {
    signature_.numerator = numerator;
    Settings::writeNumerator(numerator);
    emit numeratorChanged();
    updateBarPosition();
}

void ClockStore::setDenominator(qint64 denominator) {
    signature_.denominator = denominator;
    Settings::writeDenominator(denominator);
    emit denominatorChanged();
    updateBarPosition();
}

QString ClockStore::serviceNotice() const {
    const std::string_view notice = tactimo::StatusText::serviceNotice(serviceReachable_);
    return QString::fromUtf8(notice.data(), static_cast<qsizetype>(notice.size()));
}

bool ClockStore::missingSelection() const {
    if (selection_.empty()) return false;
    return std::none_of(sources_.begin(), sources_.end(),
                        [&](const tactimo::MIDISource& source) { return source.name == selection_; });
}

BarPositionValue::Position ClockStore::barPositionOf(const tactimo::ClockStatus& status,
                                                     const tactimo::TimeSignature& signature) {
    if (status.state == tactimo::ClockStatus::State::running || !status.position) return std::nullopt;
    return signature.position(*status.position);
}

void ClockStore::publishStatus(const tactimo::ClockStatus& status) {
    timer_.stop();
    status_ = status;
    emit statusChanged();
    updateBarPosition();
}

void ClockStore::refresh() {
    const tactimo::Readings snapshot = input_->readings();
    tactimo::ClockStatus next = tactimo::deriveStatus(snapshot, selection_, activeRef_, status_);
    follower_.follow(activeRef_, status_.bpm);
    sync_.refresh(snapshot, activeRef_, static_cast<double>(clock_()) * tactimo::ClockInput::secondsPerHostTick);
    if (next == status_) return;
    const bool renamed = next.sourceName != status_.sourceName;
    status_ = std::move(next);
    if (renamed) sync_.updateReferences(sources_, followedName());
    follower_.noteShownTempo(status_.bpm);
    emit statusChanged();
    updateBarPosition();
}

void ClockStore::setHistoryOpen(bool open) {
    if (open == follower_.isOpen()) return;
    Settings::writeHistoryOpen(open);
    follower_.setOpen(open, activeRef_, status_.bpm);
    emit historyOpenChanged();
}

void ClockStore::takeSources() {
    sources_ = input_->sources();
    updateInputs();
    emit sourcesChanged();
    emit missingSelectionChanged();
    // A service that comes or goes is a set-up change.
    const bool reachable = input_->serviceReachable();
    if (reachable != serviceReachable_) {
        serviceReachable_ = reachable;
        emit serviceReachableChanged();
    }
}

void ClockStore::updateInputs() {
    inputs_.update(sources_, selection_, missingSelection());
    sync_.updateReferences(sources_, followedName());
}

std::optional<std::string> ClockStore::followedName() const {
    // A chosen input is followed even before it sends.
    if (!selection_.empty()) return selection_;
    return status_.sourceName;
}

void ClockStore::updateBarPosition() {
    const auto next = barPositionOf(status_, signature_);
    if (next == barPosition_) return;
    barPosition_ = next;
    emit barPositionChanged();
}
