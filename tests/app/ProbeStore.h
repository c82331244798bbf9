#pragma once

#include "ClockStore.h"
#include "midi/FakeMidiService.h"

#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <memory>

// A real store on a fake MIDI bus with a clock the test sets. Views under
// test can also be shown a status of the test's choosing.
class ProbeStore : public ClockStore {
    Q_OBJECT

public:
    explicit ProbeStore(QObject* parent = nullptr)
        : ProbeStore(std::make_shared<tactimo::FakeMidiBus>(), std::make_shared<std::atomic<std::uint64_t>>(0), parent) {}

    using ClockStore::refresh;
    using ClockStore::stopRefreshing;

    tactimo::FakeMidiBus& bus() { return *bus_; }
    std::shared_ptr<tactimo::FakeMidiBus> sharedBus() const { return bus_; }
    // Nanoseconds of the store's host clock.
    void setNow(std::uint64_t ns) { now_->store(ns); }
    void show(const tactimo::ClockStatus& status) {
        stopRefreshing();
        publishStatus(status);
    }

    // Stops refreshing and shows the status given by name, e.g.
    // {state: "playing", receiving: true, bpm: 120, position: 24}.
    Q_INVOKABLE void show(const QVariantMap& fields);
    Q_INVOKABLE int addSource(const QString& name);
    Q_INVOKABLE void removeSource(int key);
    Q_INVOKABLE void announceSetupChange() { bus_->announceSetupChange(); }
    Q_INVOKABLE QVariant storedSetting(const QString& key) const;

private:
    ProbeStore(std::shared_ptr<tactimo::FakeMidiBus> bus, std::shared_ptr<std::atomic<std::uint64_t>> now,
               QObject* parent);

    std::shared_ptr<tactimo::FakeMidiBus> bus_;
    std::shared_ptr<std::atomic<std::uint64_t>> now_;
};
