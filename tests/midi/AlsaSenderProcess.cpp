// A sequencer client in a process of its own, for tests that need senders
// that come and go as programs do (each with its own process id).
//
//   tactimo_alsa_sender NAME
//
// Opens a client NAME with one readable port "out", prints "CLIENT:PORT" and
// then reads commands, one a line: start, stop, continue, clock, songpos V.
// Each sends that message to the port's subscribers. Ends at end of input.

#include <alsa/asoundlib.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) return 1;
    snd_seq_set_client_name(seq, argv[1]);
    const int port = snd_seq_create_simple_port(seq, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0) return 1;
    std::printf("%d:%d\n", snd_seq_client_id(seq), port);
    std::fflush(stdout);

    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        int value = 0;
        if (std::strncmp(line, "start", 5) == 0) {
            event.type = SND_SEQ_EVENT_START;
        } else if (std::strncmp(line, "stop", 4) == 0) {
            event.type = SND_SEQ_EVENT_STOP;
        } else if (std::strncmp(line, "continue", 8) == 0) {
            event.type = SND_SEQ_EVENT_CONTINUE;
        } else if (std::strncmp(line, "clock", 5) == 0) {
            event.type = SND_SEQ_EVENT_CLOCK;
        } else if (std::sscanf(line, "songpos %d", &value) == 1) {
            event.type = SND_SEQ_EVENT_SONGPOS;
            event.data.control.value = value;
        } else {
            continue;
        }
        snd_seq_ev_set_source(&event, port);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        snd_seq_event_output_direct(seq, &event);
    }
    snd_seq_close(seq);
    return 0;
}
