#pragma once

#include <QObject>
#include <QString>
#include <QtQmlIntegration/qqmlintegration.h>

// Numbers as "%.Nf" prints them in the C locale, whatever the user's locale:
// a full stop as decimal separator, no grouping.
class NumberFormat : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    static QString fixed(double value, int decimals);
    Q_INVOKABLE QString format(double value, int decimals) const { return fixed(value, decimals); }
};
