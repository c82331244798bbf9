// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class ClockStore;
class QQmlApplicationEngine;
class QQuickWindow;

// Loads the window "main" for the store; null when the QML failed to load.
// Selects the software renderer, so call it before any other window exists.
// The executable must import the QML module's static plugin.
QQuickWindow* openMainWindow(QQmlApplicationEngine& engine, ClockStore& store);
