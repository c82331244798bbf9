#include "ProbeStore.h"

#include <QDesktopServices>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

// Catches the donation link instead of starting a browser.
class UrlCatcher : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString lastUrl MEMBER lastUrl_ NOTIFY lastUrlChanged)

public:
    using QObject::QObject;

public slots:
    void open(const QUrl& url) {
        lastUrl_ = url.toString();
        emit lastUrlChanged();
    }

signals:
    void lastUrlChanged();

private:
    QString lastUrl_;
};

class Setup : public QObject {
    Q_OBJECT

public:
    ~Setup() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

public slots:
    void applicationAvailable() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &urls_, "open");
    }

    void qmlEngineAvailable(QQmlEngine* engine) {
        engine->addImportPath(QStringLiteral("qrc:/"));
        qmlRegisterType<ProbeStore>("TactimoTest", 1, 0, "ProbeStore");
        qmlRegisterSingletonInstance("TactimoTest", 1, 0, "Urls", &urls_);
    }

private:
    QTemporaryDir settingsDir_;
    UrlCatcher urls_;
};

QUICK_TEST_MAIN_WITH_SETUP(tactimo_views, Setup)

#include "ViewTestMain.moc"
