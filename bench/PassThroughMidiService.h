// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/MidiService.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tactimo {

// Hands everything on to a real service, and lets a benchmark look at every
// delivered packet list first (on the delivery thread). A subclass must call
// close() in its own destructor, before its members go.
class PassThroughMidiService : public MidiService {
public:
    explicit PassThroughMidiService(std::unique_ptr<MidiService> inner) : inner_(std::move(inner)) {}

    void open(Receive receive, SetupChanged setupChanged) override {
        inner_->open(
            [this, receive](MidiPacketList list, SourceKey key) {
                observe(list, key);
                receive(list, key);
            },
            std::move(setupChanged));
    }
    void close() override { inner_->close(); }
    SourceKey virtualDestination() const override { return inner_->virtualDestination(); }
    std::vector<SourceKey> sources() const override { return inner_->sources(); }
    std::optional<std::string> displayName(SourceKey source) const override { return inner_->displayName(source); }
    void connectAllSources() override { inner_->connectAllSources(); }

protected:
    virtual void observe(MidiPacketList list, SourceKey key) = 0;

private:
    std::unique_ptr<MidiService> inner_;
};

} // namespace tactimo
