#pragma once

#include "ClockStore.h"
#include "Settings.h"
#include "midi/FakeMidiService.h"
#include "support/ManualIntake.h" // ns()

#include <QJSEngine>
#include <QMetaEnum>
#include <QVariantMap>
#include <QtQml/qqml.h>
#include <cmath>
#include <random>

// A real store on a fake MIDI bus, with a host clock (ns) the test sets, that
// can also be made to show a status of the test's choosing.
class ProbeStore : public ClockStore {
    Q_OBJECT

public:
    explicit ProbeStore(QObject* parent = nullptr)
        : ProbeStore(std::make_shared<tactimo::FakeMidiBus>(), std::make_shared<std::atomic<std::uint64_t>>(0),
                     parent) {}

    tactimo::FakeMidiBus& bus() { return *bus_; }
    void setNow(std::uint64_t ns) { now_->store(ns); }

    // e.g. {state: ClockState.Playing, receiving: true, bpm: 120, position: 24}; stops refreshing.
    // A key or state it does not know is an error of the test, not a default.
    Q_INVOKABLE void show(const QVariantMap& f) {
        static const QStringList keys{"state",    "receiving", "settled",  "pulse",      "bpm",
                                      "exactBPM", "jitter",    "position", "sourceName", "otherSources"};
        for (auto it = f.begin(); it != f.end(); ++it)
            if (!keys.contains(it.key())) return fail("show: unknown field " + it.key());
        tactimo::ClockStatus s;
        if (f.contains("state")) {
            bool ok = false;
            const int state = f.value("state").toInt(&ok);
            if (!ok || !QMetaEnum::fromType<ClockState::State>().valueToKey(state))
                return fail("show: no such state " + f.value("state").toString());
            s.state = static_cast<tactimo::ClockStatus::State>(state);
        }
        for (auto [key, flag] :
             {std::pair{"receiving", &s.receiving}, std::pair{"settled", &s.settled}, std::pair{"pulse", &s.pulse}})
            *flag = f.value(key).toBool();
        for (auto [key, value] :
             {std::pair{"bpm", &s.bpm}, std::pair{"exactBPM", &s.exactBPM}, std::pair{"jitter", &s.jitter}})
            if (f.contains(key)) *value = f.value(key).toDouble();
        if (f.contains("position")) s.position = f.value("position").toLongLong();
        if (f.contains("sourceName")) s.sourceName = f.value("sourceName").toString().toStdString();
        for (const QString& name : f.value("otherSources").toStringList()) s.otherSources.push_back(name.toStdString());
        publishStatus(s);
    }
    Q_INVOKABLE int plug(const QString& name) {
        const auto key = bus_->addSource(name.toStdString());
        bus_->announceSetupChange();
        return static_cast<int>(key);
    }
    Q_INVOKABLE void unplug(int key) {
        bus_->removeSource(static_cast<tactimo::SourceKey>(key));
        bus_->announceSetupChange();
    }
    // 120 BPM: 30 clocks 1/48 s apart from the source, the last one at `end` (ns).
    void sendClock(tactimo::SourceKey key, std::uint64_t end) {
        constexpr std::uint64_t second = 1'000'000'000;
        setNow(end);
        for (std::uint64_t i = 0; i < 30; ++i) bus_->send(key, {0xF8}, end - (29 - i) * second / 48);
    }
    Q_INVOKABLE QVariant storedSetting(const QString& key) const { return Settings::open().value(key); }

    // `count` clocks at `bpm` from the source, continuing from the host clock,
    // each moved by `jitterMs`: alternately early and late, or at random
    // (normal, that RMS). Simulated time drives the store as its timers
    // would: a refresh every 1/30 s, a history copy every 1/4 s. The real
    // timers find the host clock where the test left it.
    Q_INVOKABLE void clockRun(int key, double bpm, int count, double jitterMs = 0, bool random = false) {
        const double interval = 60.0 / (24.0 * bpm);
        double t = seconds();
        std::normal_distribution<double> noise(0.0, jitterMs / 1000.0);
        for (int k = 0; k < count; ++k) {
            t += interval;
            const double offset = random ? noise(rng_) : (k % 2 ? 1 : -1) * jitterMs / 1000.0;
            advanceTo(t + offset);
            bus_->send(static_cast<tactimo::SourceKey>(key), {0xF8});
        }
        advanceTo(t);
    }
    // Sends bytes (a Start, a Stop) at the current host time.
    Q_INVOKABLE void sendBytes(int key, const QList<int>& bytes) {
        std::vector<std::uint8_t> data;
        for (const int b : bytes) data.push_back(static_cast<std::uint8_t>(b));
        bus_->send(static_cast<tactimo::SourceKey>(key), data);
    }
    // Lets simulated time pass with nothing sent.
    Q_INVOKABLE void pause(double secondsToPass) { advanceTo(seconds() + secondsToPass); }
    // A refresh and a history copy now.
    Q_INVOKABLE void update() {
        refresh();
        historyFollower().poll();
    }

private:
    ProbeStore(std::shared_ptr<tactimo::FakeMidiBus> bus, std::shared_ptr<std::atomic<std::uint64_t>> now,
               QObject* parent)
        : ClockStore(
              std::make_unique<tactimo::FakeMidiService>(bus), [now] { return now->load(); }, parent),
          bus_(std::move(bus)),
          now_(std::move(now)) {}

    // Throws into the QML test that made this store; a C++ test stops here.
    void fail(const QString& message) {
        if (qmlContext(this)) return qjsEngine(this)->throwError(message);
        qFatal("%s", qPrintable(message));
    }

    double seconds() const { return static_cast<double>(now_->load()) * 1e-9; }
    // Moves the host clock to t (seconds), running the refreshes and copies
    // that fall due on the way, at their times.
    void advanceTo(double t) {
        const double refreshEvery = refreshIntervalMs / 1000.0, copyEvery = HistoryFollower::intervalMs / 1000.0;
        // The clock was set elsewhere: the timers start from there.
        nextRefresh_ = std::max(nextRefresh_, seconds() - refreshEvery);
        nextCopy_ = std::max(nextCopy_, seconds() - copyEvery);
        while (true) {
            const double due = std::min(nextRefresh_, nextCopy_);
            if (due > t) break;
            setNow(tactimo::test::ns(std::max(due, seconds())));
            if (due == nextRefresh_) {
                refresh();
                nextRefresh_ += refreshEvery;
            } else {
                historyFollower().poll();
                nextCopy_ += copyEvery;
            }
        }
        setNow(tactimo::test::ns(t));
    }

    std::shared_ptr<tactimo::FakeMidiBus> bus_;
    std::shared_ptr<std::atomic<std::uint64_t>> now_;
    std::mt19937 rng_{7};
    double nextRefresh_ = 0, nextCopy_ = 0; // seconds of simulated time
};
