#include "ClockStore.h"

#include "Settings.h"
#include "core/UnicodeText.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <utility>

namespace {

std::string canonical(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return tactimo::canonicalText(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

} // namespace

ClockStore::ClockStore(std::unique_ptr<tactimo::MidiService> service, tactimo::ClockInput::HostClock clock,
                       QObject* parent)
    : QObject(parent),
      inputs_(this),
      clock_(clock ? clock : tactimo::ClockInput::HostClock(tactimo::hostClock::now)) {
    // Work from the MIDI side runs on this object's thread; events for a
    // deleted store are dropped by Qt, so nothing runs after it is gone.
    QPointer<ClockStore> self(this);
    auto post = [self](std::function<void()> work) {
        if (self) QMetaObject::invokeMethod(self.data(), std::move(work), Qt::QueuedConnection);
    };
    input_ = std::make_unique<tactimo::ClockInput>(std::move(service), std::move(post), clock_);

    // Read once; nothing is written back here.
    const Settings::Values stored = Settings::read();
    selection_ = canonical(stored.selection);
    signature_ = stored.signature;
    historyOpen_ = stored.historyOpen;

    sources_ = input_->sources();
    serviceReachable_ = input_->serviceReachable();
    updateInputs();
    input_->onSourcesChanged = [this] { takeSources(); };

    timer_.setInterval(refreshIntervalMs);
    connect(&timer_, &QTimer::timeout, this,
            [this] { QMetaObject::invokeMethod(this, &ClockStore::refresh, Qt::QueuedConnection); });
    timer_.start();

    historyTimer_.setInterval(historyIntervalMs);
    connect(&historyTimer_, &QTimer::timeout, this, &ClockStore::pollHistory);
    if (historyOpen_) historyTimer_.start();
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
    if (historyOpen_) {
        // Starts over, with what comes after the last copy.
        history_.clear();
        historyFollowed_.reset();
        historyFromNow_ = true;
    }
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
    status_ = status;
    emit statusChanged();
    updateBarPosition();
}

void ClockStore::refresh() {
    const tactimo::Readings snapshot = input_->readings();
    tactimo::ClockStatus next = tactimo::deriveStatus(snapshot, selection_, activeRef_, status_);
    if (historyOpen_ && activeRef_ != historyFollowed_) followHistory();
    if (next == status_) return;
    status_ = std::move(next);
    if (historyOpen_) history_.noteShownTempo(hostSeconds(), status_.bpm);
    emit statusChanged();
    updateBarPosition();
}

void ClockStore::setHistoryOpen(bool open) {
    if (open == historyOpen_) return;
    historyOpen_ = open;
    Settings::writeHistoryOpen(open);
    historyFollowed_.reset();
    historyFromNow_ = false;
    history_.clear();
    if (open) {
        historyTimer_.start();
        followHistory();
        pollHistory();
    } else {
        historyTimer_.stop();
        historySlice_ = {}; // its memory too
    }
    emit historyOpenChanged();
}

// Another followed source: the history starts over, with what the intake
// kept of that source's run (up to a minute), unless another input was
// chosen: then with what came after the choice.
void ClockStore::followHistory() {
    history_.clear();
    if (!std::exchange(historyFromNow_, false)) historySince_ = 0;
    historyFollowed_ = activeRef_;
    history_.noteShownTempo(hostSeconds(), status_.bpm);
}

void ClockStore::pollHistory() {
    if (!historyOpen_ || !historyFollowed_) return;
    input_->history(*historyFollowed_, historySince_, historySlice_);
    historySince_ = historySlice_.latest;
    history_.take(historySlice_);
}

double ClockStore::hostSeconds() const {
    return static_cast<double>(clock_()) * tactimo::ClockInput::secondsPerHostTick;
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
}

void ClockStore::updateBarPosition() {
    const auto next = barPositionOf(status_, signature_);
    if (next == barPosition_) return;
    barPosition_ = next;
    emit barPositionChanged();
}
