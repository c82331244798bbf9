#include "MainWindow.h"

#include "ClockStore.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QUrl>

QQuickWindow* openMainWindow(QQmlApplicationEngine& engine, ClockStore& store) {
    // The module is compiled in: its qmldir lives under qrc:/Tactimo.
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.setInitialProperties({{QStringLiteral("store"), QVariant::fromValue(&store)}});
    engine.load(QUrl(QStringLiteral("qrc:/Tactimo/qml/TactimoApp.qml")));
    const QList<QObject*> roots = engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.constFirst());
}
