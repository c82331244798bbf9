// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockStore.h"
#include "Settings.h"
#include "core/StatusText.h"
#include "midi/FakeMidiService.h"
#include "support/ManualIntake.h" // ns()

#include <QDir>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QTemporaryDir>
#include <QVariantMap>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>
#include <random>

// A real store on a fake MIDI bus and a host clock (ns) the test sets; it can show a status of the test's choosing.
class ProbeStore : public ClockStore {
    Q_OBJECT

public:
    explicit ProbeStore(QObject* parent = nullptr)
        : ProbeStore(std::make_shared<tactimo::FakeMidiBus>(), std::make_shared<std::atomic<std::uint64_t>>(0),
                     parent) {}

    // e.g. {state: ClockState.Playing, receiving: true, bpm: 120, position: 24}; stops refreshing.
    Q_INVOKABLE void show(const QVariantMap& f) {
        tactimo::ClockStatus s;
        s.state = static_cast<tactimo::ClockStatus::State>(f.value("state").toInt());
        for (auto [key, flag] : {std::pair{"receiving", &s.receiving}, {"settled", &s.settled}, {"pulse", &s.pulse}})
            *flag = f.value(key).toBool();
        for (auto [key, value] : {std::pair{"bpm", &s.bpm}, {"exactBPM", &s.exactBPM}, {"jitter", &s.jitter}})
            if (f.contains(key)) *value = f.value(key).toDouble();
        if (f.contains("position")) s.position = f.value("position").toLongLong();
        if (f.contains("sourceName")) s.sourceName = f.value("sourceName").toString().toStdString();
        for (const QString& name : f.value("otherSources").toStringList()) s.otherSources.push_back(name.toStdString());
        publishStatus(s);
    }
    // StatusText's lines for the status and selection now, by the name of the item that shows each.
    Q_INVOKABLE QVariantMap texts() const {
        using T = tactimo::StatusText;
        const std::string chosen = selection().toStdString(); // the text refers to it
        const T text(currentStatus(), chosen);
        const auto q = [](std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); };
        QVariantMap shown{{"stateWord", q(T::stateWord(currentStatus().state))},
                          {"listeningNotice", q(T::serviceNotice(serviceReachable()))}};
        const std::pair<const char*, std::string (T::*)() const> lines[] = {
            {"tempo", &T::tempo},       {"detail", &T::detail}, {"jitter", &T::jitter},
            {"sourceName", &T::source}, {"hint", &T::hint},     {"warningText", &T::warning}};
        for (auto [name, line] : lines) shown[name] = q((text.*line)());
        return shown;
    }
    // A source comes or goes, or the service; the store has taken the change when this returns.
    Q_INVOKABLE int plug(const QString& name) { return int(announce(bus_->addSource(name.toStdString()))); }
    Q_INVOKABLE void unplug(int key) { announce((bus_->removeSource(tactimo::SourceKey(key)), 0)); }
    Q_INVOKABLE void setReachable(bool reachable) { announce((bus_->setReachable(reachable), 0)); }
    Q_INVOKABLE QVariant storedSetting(const QString& key) const { return Settings::open().value(key); }

    // `count` clocks at `bpm` on from the host clock, moved by `jitterMs` late and early (+ - - +) or at random
    // (that RMS), each `leadMs` after a clock of `reference` if given; refreshed at every clock and copied at every
    // twelfth, as the timers would.
    Q_INVOKABLE void clockRun(int key, double bpm, int count, double jitterMs = 0, bool random = false,
                              int reference = -1, double leadMs = 0) {
        std::normal_distribution<double> noise(0.0, jitterMs / 1000.0);
        double t = seconds();
        for (int k = 1; k <= count; ++k) {
            t += 60.0 / (24.0 * bpm);
            setNow(t + (random ? noise(rng_) : (k % 4 < 2 ? 1 : -1) * jitterMs / 1000.0));
            bus_->send(tactimo::SourceKey(key), {0xF8});
            if (reference >= 0) bus_->send(tactimo::SourceKey(reference), {0xF8}, tactimo::test::ns(t - leadMs / 1000));
            refresh();
            if (k % 12 == 0) historyFollower().poll();
        }
        setNow(t);
    }
    Q_INVOKABLE void sendBytes(int key, const QList<int>& bytes) {
        bus_->send(tactimo::SourceKey(key), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    // The host clock `wait` seconds on, left to the timers.
    Q_INVOKABLE void later(double wait) { setNow(seconds() + wait); }
    // A refresh and a history copy, after `wait` seconds with nothing sent.
    Q_INVOKABLE void update(double wait = 0) {
        setNow(seconds() + wait);
        refresh();
        historyFollower().poll();
    }

private:
    ProbeStore(std::shared_ptr<tactimo::FakeMidiBus> bus, std::shared_ptr<std::atomic<std::uint64_t>> now,
               QObject* parent)
        : ClockStore(
              std::make_unique<tactimo::FakeMidiService>(bus), [now] { return now->load(); }, parent),
          bus_(std::move(bus)),
          now_(std::move(now)) {}

    template <typename T> T announce(T result) {
        bus_->announceSetupChange();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        return result;
    }
    double seconds() const { return static_cast<double>(now_->load()) * 1e-9; }
    void setNow(double seconds) { now_->store(tactimo::test::ns(seconds)); }

    std::shared_ptr<tactimo::FakeMidiBus> bus_;
    std::shared_ptr<std::atomic<std::uint64_t>> now_;
    std::mt19937 rng_{7};
};

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

class Setup : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir_;
public slots:
    void qmlEngineAvailable(QQmlEngine* engine) { // before any QML loads
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        engine->addImportPath(QStringLiteral("qrc:/"));
        qmlRegisterType<ProbeStore>("TactimoTest", 1, 0, "ProbeStore");
        QDir().mkpath(TACTIMO_SCREENSHOT_DIR);
        engine->rootContext()->setContextProperty("screenshotDir", QStringLiteral(TACTIMO_SCREENSHOT_DIR));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(tactimo_views, Setup)
#include "ViewTestMain.moc"
