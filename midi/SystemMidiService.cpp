#include "SystemMidiService.h"

#include "AlsaMidiService.h"
#include "JackMidiService.h"
#include "core/NullMidiService.h"

namespace tactimo {

std::unique_ptr<MidiService> makeSystemMidiService() {
    if (auto jack = JackMidiService::tryCreate()) return jack;
    if (auto alsa = AlsaMidiService::tryCreate()) return alsa;
    return std::make_unique<NullMidiService>();
}

} // namespace tactimo
