#pragma once

// Helpers for tests against a real JACK server: child processes (the real
// senders), a main-thread queue standing in for the event loop, and an
// in-process sender that counts exactly what it sent.

#include "core/ClockInput.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tactimo::test {

// A child process with its stdin on a pipe; stopped with SIGINT (then
// SIGKILL) when it goes out of scope.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> argv) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[0]);
        stdin_ = fds[1];
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running() const { return pid_ > 0; }

    // One line on the child's stdin.
    void say(const std::string& line) {
        if (stdin_ < 0) return;
        const std::string text = line + "\n";
        [[maybe_unused]] const auto n = ::write(stdin_, text.data(), text.size());
    }

    void stop() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
        if (pid_ <= 0) return;
        ::kill(pid_, SIGINT);
        for (int i = 0; i < 300; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
};

// Runs a command and waits for it; its exit status.
inline int run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    std::vector<std::string> copy = argv;
    for (std::string& a : copy) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid < 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The test's "main thread": work posted from any thread waits here until the
// test runs it.
class MainQueue {
public:
    ClockInput::Post post() {
        return [this](std::function<void()> work) {
            std::lock_guard guard(lock_);
            queue_.push_back(std::move(work));
        };
    }
    // Runs what is queued now; how many ran.
    int runPending() {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard guard(lock_);
            work.swap(queue_);
        }
        for (auto& w : work) w();
        ran_ += int(work.size());
        return int(work.size());
    }
    int ran() const { return ran_; }

private:
    std::mutex lock_;
    std::deque<std::function<void()>> queue_;
    int ran_ = 0;
};

// Runs the queue until the condition holds or the time is up.
template <typename Condition>
bool pumpUntil(MainQueue& queue, Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        queue.runPending();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

inline void pumpFor(MainQueue& queue, std::chrono::milliseconds span) {
    pumpUntil(queue, [] { return false; }, span);
}

// A JACK client of the test's own with MIDI output ports. While enabled it
// puts one Timing Clock at frame 0 of every cycle on every port, and counts them.
class TestSender {
public:
    explicit TestSender(const char* name) {
        client_ = jack_client_open(name, JackNoStartServer, nullptr);
        if (!client_) return;
        jack_set_process_callback(client_, &TestSender::process, this);
        jack_set_xrun_callback(client_, [](void* arg) {
            static_cast<TestSender*>(arg)->xruns_.fetch_add(1);
            return 0;
        }, this);
        jack_activate(client_);
    }
    ~TestSender() {
        if (!client_) return;
        jack_deactivate(client_);
        jack_client_close(client_);
    }
    bool ok() const { return client_ != nullptr; }
    jack_client_t* client() const { return client_; }

    // Adds a port; its full name.
    std::string addPort(const std::string& name) {
        jack_port_t* port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (!port) return {};
        for (auto& p : ports_) {
            jack_port_t* expected = nullptr;
            if (p.compare_exchange_strong(expected, port)) break;
        }
        return jack_port_name(port);
    }
    void removeAllPorts() {
        std::vector<jack_port_t*> gone;
        for (auto& p : ports_)
            if (jack_port_t* port = p.exchange(nullptr)) gone.push_back(port);
        std::this_thread::sleep_for(std::chrono::milliseconds(30)); // cycles that may still write
        for (jack_port_t* port : gone) jack_port_unregister(client_, port);
    }

    void setSending(bool on) { sending_.store(on); }
    long sent() const { return sent_.load(); }
    // Cycles the server ran late: a busy test machine may lose one there.
    long xruns() const { return xruns_.load(); }

private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<TestSender*>(arg);
        const bool on = self->sending_.load();
        for (auto& p : self->ports_) {
            jack_port_t* port = p.load();
            if (!port) continue;
            void* buffer = jack_port_get_buffer(port, frames);
            jack_midi_clear_buffer(buffer);
            if (on) {
                const jack_midi_data_t tick = 0xF8;
                if (jack_midi_event_write(buffer, 0, &tick, 1) == 0) self->sent_.fetch_add(1);
            }
        }
        return 0;
    }

    jack_client_t* client_ = nullptr;
    std::array<std::atomic<jack_port_t*>, 64> ports_{};
    std::atomic<bool> sending_{false};
    std::atomic<long> sent_{0};
    std::atomic<long> xruns_{0};
};

} // namespace tactimo::test
