#pragma once

#include "core/MidiService.h"

#include <memory>

namespace tactimo {

// The MIDI service of this machine: JACK when a server is running (one is
// never started), else the ALSA sequencer, else a service with nothing in it.
std::unique_ptr<MidiService> makeSystemMidiService();

} // namespace tactimo
