#pragma once

// JACK clients of the test's own: a sender that counts exactly what it sent,
// a thru port as a2jmidid makes them, and a follower that re-sends late.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

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
            client,
            [](void* self) {
                ++static_cast<TestSender*>(self)->xruns;
                return 0;
            },
            this);
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
        return unseenWrite(buffer, &byte, 1, frame);
    }
    static bool unseenWrite(void* buffer, const jack_midi_data_t* bytes, std::size_t size, jack_nframes_t frame) {
#ifdef TACTIMO_TEST_TSAN
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
#endif
        const bool written = jack_midi_event_write(buffer, frame, bytes, size) == 0;
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

// A follower that re-sends every event of up to three bytes (clock, transport,
// song position) that reaches its port "in", a fixed number of frames later,
// from its port "out": a device slaved to a clock, with its delay exact to
// the frame.
struct TestDelay {
    TestDelay(const std::string& name, jack_nframes_t delay)
        : client(jack_client_open(name.c_str(), JackNoStartServer, nullptr)),
          delay(delay) {
        if (!client) return;
        in = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        out = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(
            client,
            [](jack_nframes_t frames, void* arg) {
                static_cast<TestDelay*>(arg)->process(frames);
                return 0;
            },
            this);
        jack_set_xrun_callback(
            client,
            [](void* self) {
                ++static_cast<TestDelay*>(self)->xruns;
                return 0;
            },
            this);
        jack_activate(client);
    }
    ~TestDelay() {
        if (client) jack_client_close(client);
    }
    std::string inPort() const { return jack_port_name(in); }
    std::string outPort() const { return jack_port_name(out); }

    // Only the process thread touches the queue.
    void process(jack_nframes_t frames) {
        const jack_nframes_t cycle = jack_last_frame_time(client);
        void* from = jack_port_get_buffer(in, frames);
        void* to = jack_port_get_buffer(out, frames);
        jack_midi_clear_buffer(to);
        const std::uint32_t count = jack_midi_get_event_count(from);
        for (std::uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, from, i) != 0 || event.size > 3 || queued - sent == pending.size())
                continue;
            Pending& p = pending[queued++ % pending.size()];
            p = {cycle + event.time + delay, std::uint8_t(event.size), {}};
            std::copy(event.buffer, event.buffer + event.size, p.bytes.begin());
        }
        // Frame times wrap: compare their difference.
        for (; sent != queued; ++sent) {
            const Pending& p = pending[sent % pending.size()];
            const auto frame = std::int32_t(p.due - cycle);
            if (frame >= std::int32_t(frames)) break;
            TestSender::unseenWrite(to, p.bytes.data(), p.size, jack_nframes_t(std::max(frame, 0)));
        }
    }

    struct Pending {
        jack_nframes_t due; // frame time
        std::uint8_t size;
        std::array<jack_midi_data_t, 3> bytes;
    };
    jack_client_t* client;
    jack_nframes_t delay;
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
    std::array<Pending, 1024> pending{};
    std::uint64_t queued = 0, sent = 0;
    std::atomic<long> xruns{0}; // late cycles of the server, which may lose or move events
};

} // namespace tactimo::test
