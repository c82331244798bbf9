#pragma once

// Tests against a real JACK server: child processes (the real senders), a
// queue standing in for the main thread's event loop, and a sender of our own
// that counts exactly what it sent.

#include "core/ClockInput.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#if defined(__SANITIZE_THREAD__)
#define TACTIMO_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TACTIMO_TEST_TSAN 1
#endif
#endif
#ifdef TACTIMO_TEST_TSAN
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace tactimo::test {

using namespace std::chrono_literals;

// Starts a program with its stdin on a descriptor (or the caller's), output discarded.
inline pid_t spawn(std::vector<std::string> argv, int in = -1) {
    std::vector<char*> args(argv.size() + 1); // null-terminated
    std::ranges::transform(argv, args.begin(), [](std::string& a) { return a.data(); });
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, 0);
    for (int fd : {1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Runs a program to its end; its exit status.
inline int run(const std::vector<std::string>& argv) {
    int status = 0;
    const pid_t pid = spawn(argv);
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child reading lines from us; SIGINT, then SIGKILL, when it goes.
struct ChildProcess {
    explicit ChildProcess(const std::vector<std::string>& argv) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        pid = spawn(argv, fds[0]), in = fds[1];
        ::close(fds[0]);
    }
    ~ChildProcess() {
        ::close(in);
        if (pid <= 0) return;
        ::kill(pid, SIGINT);
        for (int i = 0; i < 300; ++i, std::this_thread::sleep_for(10ms))
            if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    void say(const std::string& line) {
        [[maybe_unused]] const auto n = ::write(in, (line + '\n').data(), line.size() + 1);
    }

    pid_t pid = -1;
    int in = -1;
};

// The test's "main thread": posted work waits until the test runs it.
struct MainQueue {
    ClockInput::Post post() {
        return [this](std::function<void()> work) {
            std::lock_guard guard(lock);
            queue.push_back(std::move(work));
        };
    }
    void runPending() {
        const auto work = [this] {
            std::lock_guard guard(lock);
            return std::exchange(queue, {});
        }();
        for (auto& w : work) w(), ++ran;
    }
    std::mutex lock;
    std::vector<std::function<void()>> queue;
    int ran = 0;
};

// Runs posted work until the condition holds or the time is up.
inline bool pumpUntil(MainQueue& main, auto condition, std::chrono::milliseconds limit = 10s) {
    for (const auto deadline = std::chrono::steady_clock::now() + limit;; std::this_thread::sleep_for(5ms)) {
        if (main.runPending(); condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}

inline void pumpFor(MainQueue& main, std::chrono::milliseconds span) {
    pumpUntil(
        main, [] { return false; }, span);
}

// Whether a port (anyone's) has a connection, asked as a client.
inline bool connected(jack_client_t* c, const std::string& port) {
    return jack_port_connected(jack_port_by_name(c, port.c_str())) > 0;
}

// A JACK client with one MIDI output port "out". While sending it puts one
// Timing Clock at frame 0 of every cycle, and counts them.
struct TestSender {
    explicit TestSender(const std::string& name) : client(jack_client_open(name.c_str(), JackNoStartServer, nullptr)) {
        if (!client) return;
        port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(
            client,
            [](jack_nframes_t frames, void* arg) {
                auto* self = static_cast<TestSender*>(arg);
                void* buffer = jack_port_get_buffer(self->port, frames);
                jack_midi_clear_buffer(buffer);
                const jack_midi_data_t tick = 0xF8;
                if (self->sending && unseenWrite(buffer, tick)) ++self->sent;
                return 0;
            },
            this);
        jack_set_xrun_callback(
            client, [](void* self) { return ++static_cast<TestSender*>(self)->xruns, 0; }, this);
        jack_activate(client);
    }
    ~TestSender() {
        if (client) jack_client_close(client);
    }
    std::string portName() const { return jack_port_name(port); }

    // JACK runs a sender's cycle before that of the client reading its port,
    // ordered by futexes in shared memory that ThreadSanitizer cannot see. A
    // sender inside the process under test keeps its writes out of its view,
    // or every tick the backend reads is a race to it (and reporting it
    // makes the backend's cycles late).
    static bool unseenWrite(void* buffer, jack_midi_data_t byte, jack_nframes_t frame = 0) {
#ifdef TACTIMO_TEST_TSAN
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
#endif
        const bool written = jack_midi_event_write(buffer, frame, &byte, 1) == 0;
#ifdef TACTIMO_TEST_TSAN
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
#endif
        return written;
    }

    jack_client_t* client;
    jack_port_t* port = nullptr;
    std::atomic<bool> sending{false};
    std::atomic<long> sent{0}, xruns{0}; // late cycles: a busy machine may lose a tick there
};

// A client that passes on what reaches its input port, named as a2jmidid
// names the ports it makes for the kernel's "Midi Through": so a thru port
// as the backend meets it in a JACK graph.
struct TestThru {
    static constexpr const char* clientName = "a2j";
    static constexpr const char* outName = "Midi Through [14] (capture): Midi Through Port-0";
    static constexpr const char* inName = "Midi Through [14] (playback): Midi Through Port-0";

    TestThru() : client(jack_client_open(clientName, jack_options_t(JackNoStartServer | JackUseExactName), nullptr)) {
        if (!client) return;
        in = jack_port_register(client, inName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        out = jack_port_register(client, outName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(
            client,
            [](jack_nframes_t frames, void* arg) {
                auto* self = static_cast<TestThru*>(arg);
                void* from = jack_port_get_buffer(self->in, frames);
                void* to = jack_port_get_buffer(self->out, frames);
                jack_midi_clear_buffer(to);
                const std::uint32_t count = jack_midi_get_event_count(from);
                for (std::uint32_t i = 0; i < count; ++i) {
                    jack_midi_event_t event;
                    if (jack_midi_event_get(&event, from, i) == 0 && event.size == 1)
                        TestSender::unseenWrite(to, event.buffer[0], event.time);
                }
                return 0;
            },
            this);
        jack_activate(client);
    }
    ~TestThru() {
        if (client) jack_client_close(client);
    }
    std::string inPort() const { return jack_port_name(in); }
    std::string outPort() const { return jack_port_name(out); }

    jack_client_t* client;
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
};

} // namespace tactimo::test
