#pragma once

#include <QObject>
#include <QVariantMap>
#include <QtQmlIntegration/qqmlintegration.h>

// Song positions as bar, beat and sixteenth under a time signature.
class BarCounter : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // clocks: MIDI clocks since song start. Gives {bar, beat, sixteenth}, each from 1.
    Q_INVOKABLE QVariantMap position(double clocks, qint64 numerator, qint64 denominator) const;
};
