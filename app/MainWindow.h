#pragma once

class ClockStore;
class QQmlApplicationEngine;
class QQuickWindow;

// Loads the window "main" for the store; null when the QML failed to load.
// The executable must import the QML module's static plugin.
QQuickWindow* openMainWindow(QQmlApplicationEngine& engine, ClockStore& store);
