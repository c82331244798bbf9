#pragma once

#include "PassThroughMidiService.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tactimo::test {

// A MIDI service whose deliveries the test can hold up, as a stalled
// consumer would, while the real service below keeps queueing for it.
class GatedMidiService : public PassThroughMidiService {
public:
    using PassThroughMidiService::PassThroughMidiService;
    ~GatedMidiService() override { close(); }

    void close() override {
        hold(false);
        PassThroughMidiService::close();
    }
    void hold(bool held) {
        std::lock_guard guard(lock_);
        open_ = !held;
        changed_.notify_all();
    }
    // Whether a delivery is being held, within a time.
    bool holding(std::chrono::milliseconds limit) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, limit, [this] { return waiting_ > 0; });
    }

protected:
    void observe(MidiPacketList, SourceKey) override {
        std::unique_lock guard(lock_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(guard, [this] { return open_; });
        --waiting_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = true;
    int waiting_ = 0;
};

} // namespace tactimo::test
