// The device list: records in the settings file, and the rules by which it starts, restarts and
// destroys the engine of each device.
#include "core/helpers.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "common/test_home.h"
#include "engine/devices.h"
#include "platform/appdir.h"

#include <QTest>
#include <functional>

namespace {
// A stand-in engine that records its life and, like the real ones, reads its device record while
// it stops.
struct EngineLog {
    int created = 0;
    int destroyed = 0;
    int restarts = 0;
    QStringList stoppedNames;
};

class TTestEngine : public TDeviceEngine {
public:
    TTestEngine(TCommDevice& device, EngineLog& log, std::function<void()> onStop)
        : mDevice(device), mLog(log), mOnStop(std::move(onStop)) {
        ++mLog.created;
    }
    ~TTestEngine() override {
        if (mOnStop) mOnStop();
        mLog.stoppedNames << mDevice.Get(dvkDevName);
        ++mLog.destroyed;
    }
    void Restart() override { ++mLog.restarts; }

private:
    TCommDevice& mDevice;
    EngineLog& mLog;
    std::function<void()> mOnStop;
};

void install(TEngineServices& services, EngineLog& log, std::function<void()> onStop = {}) {
    auto factory = [&log, onStop](TDevicesList&, TCommDevice& device) {
        return std::unique_ptr<TDeviceEngine>(new TTestEngine(device, log, onStop));
    };
    services.hostFactory = factory;
    services.remFactory = factory;
}

void addDevice(TDevicesList& list, const QString& name, const QString& guid) {
    list.AddDevice();
    list.PutSetting(list.Count() - 1, dvkDevName, name);
    list.PutSetting(list.Count() - 1, dvkDevGUID, guid);
}
} // namespace

class TestDevices : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newDeviceDefaults() {
        TestHome home(2);
        TDevicesList list(home.ctx().engines);
        list.AddDevice();
        const QStringList expected{"", "", "", "10000", "", "NO", "5"};
        for (int k = 0; k < DevKeyCount; ++k)
            QCOMPARE(list.GetSetting(0, TDevKey(k)), expected[k]);
        QVERIFY(!list.GetDevice(0)->Engine);
        QCOMPARE(list.GetSetting(1, dvkDevName), QString());
        QVERIFY(!list.GetDevice(1));
    }

    void loadCompactsAndSaveRewrites() {
        TestHome home(2);
        WriteFile(home.settings().SettingsFilePath(),
                  "[GENERAL]\nMRL_CommDevices=3\n"
                  "[DEVICE1]\ndvkDevType=Direct\ndvkDevName=COM1\ndvkDevGUID=COM1\n"
                  "dvkDevParam=COM1,9600,8,None,1\n"
                  "[DEVICE2]\ndvkDevType=Direct\ndvkDevName=COM2\n"
                  "[DEVICE3]\ndvkDevType=Modem\ndvkDevName=Generic Modem\ndvkDevGUID={AB}\n"
                  "dvkDevHostActive=YES\n"
                  "[DEVICE4]\ndvkDevGUID=BEYOND-THE-COUNT\n");
        home.settings().PutInt(MRL_CommDevices, 3);
        TDevicesList list(home.ctx().engines);
        list.Load();
        QCOMPARE(list.Count(), 2);
        QCOMPARE(home.settings().GetInt(MRL_CommDevices), 2);
        QCOMPARE(list.GetSetting(1, dvkDevGUID), QString("{AB}"));
        QCOMPARE(list.GetSetting(1, dvkDevHostActive), QString("YES"));
        // Missing values read as empty, not as the defaults of a new record.
        QCOMPARE(list.GetSetting(1, dvkDevDelay), QString());

        // A device without identifier is dropped by Save, from the list and from the file.
        addDevice(list, "nameless", "");
        QVERIFY(list.Save());
        QCOMPARE(list.Count(), 2);
        TIniFile ini(home.settings().SettingsFilePath());
        QCOMPARE(ini.ReadInteger("GENERAL", "MRL_CommDevices", -1), 2);
        QCOMPARE(ini.ReadString("DEVICE2", "dvkDevGUID", ""), QString("{AB}"));
        QCOMPARE(ini.ReadString("DEVICE2", "dvkDevName", ""), QString("Generic Modem"));

        TDevicesList again(home.ctx().engines);
        again.Load();
        QCOMPARE(again.Count(), 2);
        for (int k = 0; k < DevKeyCount; ++k)
            QCOMPARE(again.GetSetting(0, TDevKey(k)), list.GetSetting(0, TDevKey(k)));
    }

    void startRestartStop() {
        TestHome home(2);
        EngineLog log;
        install(home.ctx().engines, log);
        TDevicesList list(home.ctx().engines);
        addDevice(list, "A", "COM1");
        addDevice(list, "B", "COM2");

        list.StartHostProc(0);
        list.StartHostProc(0); // already running: restarted, not doubled
        QCOMPARE(log.created, 1);
        QCOMPARE(log.restarts, 1);
        QCOMPARE(list.EngineCount(), 1);
        list.StartRemProc(1);
        QCOMPARE(list.EngineCount(), 2);

        list.StopHostProc(0);
        QCOMPARE(list.EngineCount(), 1);
        QVERIFY(!list.GetDevice(0)->Engine);
        list.StopHostProc(0); // nothing to stop
        QCOMPARE(list.EngineCount(), 1);
        list.StopRemProc(1);
        QCOMPARE(list.EngineCount(), 0);
        QCOMPARE(log.stoppedNames, (QStringList{"A", "B"}));

        // Out of range: a status line and nothing else.
        list.StartHostProc(2);
        list.StopRemProc(-1);
        QCOMPARE(list.EngineCount(), 0);
        QCOMPARE(log.created, 2);
        const QString status = home.status().join('\n');
        QVERIFY(status.contains("!TDevicesList.StartHostProc: "));
        QVERIFY(status.contains("!TDevicesList.StopRemProc: "));
    }

    // A stopping engine still counts while its destructor runs (its last reports must reach the
    // console), but the record no longer leads to it and it cannot be started twice meanwhile.
    void stoppingEngineCountsUntilGone() {
        TestHome home(1);
        EngineLog log;
        TDevicesList list(home.ctx().engines);
        int countWhileStopping = -1;
        bool engineReachable = true;
        install(home.ctx().engines, log, [&]() {
            countWhileStopping = list.EngineCount();
            engineReachable = list.GetDevice(0)->Engine != nullptr;
            list.StartRemProc(0); // refused: the device is still stopping
        });
        addDevice(list, "A", "COM1");
        list.StartRemProc(0);
        QCOMPARE(list.EngineCount(), 1);
        list.StopRemProc(0);
        QCOMPARE(countWhileStopping, 1);
        QVERIFY(!engineReachable);
        QCOMPARE(list.EngineCount(), 0);
        QCOMPARE(log.created, 1);
        QCOMPARE(log.destroyed, 1);
        QVERIFY(home.status().join('\n').contains("the device is still stopping"));
    }

    void noEngineWithoutFactory() {
        TestHome home(1);
        home.ctx().engines.remFactory = {};
        TDevicesList list(home.ctx().engines);
        addDevice(list, "A", "COM1");
        list.StartRemProc(0);
        QCOMPARE(list.EngineCount(), 0);
        QVERIFY(!list.GetDevice(0)->Engine);
        QVERIFY(home.status().join('\n').contains("!TDevicesList.StartRemProc: "));
        // A factory that gives nothing does not count either.
        home.ctx().engines.remFactory = [](TDevicesList&, TCommDevice&) { return nullptr; };
        list.StartRemProc(0);
        QCOMPARE(list.EngineCount(), 0);
    }

    void replacingOrDeletingStopsTheEngine() {
        TestHome home(2);
        EngineLog log;
        install(home.ctx().engines, log);
        TDevicesList list(home.ctx().engines);
        addDevice(list, "A", "COM1");
        addDevice(list, "B", "COM2");
        addDevice(list, "C", "COM3");
        for (int i = 0; i < 3; ++i)
            list.StartHostProc(i);
        QCOMPARE(list.EngineCount(), 3);

        TDevicesList other(home.ctx().engines);
        addDevice(other, "Z", "COM9");
        list.SetDevice(0, other.GetDevice(0));
        QCOMPARE(list.EngineCount(), 2);
        QCOMPARE(log.stoppedNames, QStringList{"A"}); // stopped before the slots were replaced
        QCOMPARE(list.GetSetting(0, dvkDevName), QString("Z"));

        list.CurrentIndex = 1;
        list.DeleteDevice(1);
        QCOMPARE(list.CurrentIndex, -1);
        QCOMPARE(list.EngineCount(), 1);
        QCOMPARE(list.Count(), 2);
        list.CurrentIndex = 1;
        list.DeleteDevice(0);
        QCOMPARE(list.CurrentIndex, 1); // another record: left as it was

        // A copy never takes engines along.
        TDevicesList copy(home.ctx().engines);
        copy.CopyFrom(&list);
        QCOMPARE(copy.Count(), 1);
        QCOMPARE(copy.CurrentIndex, 1);
        QVERIFY(!copy.GetDevice(0)->Engine);
        QCOMPARE(copy.EngineCount(), 0);
        QCOMPARE(log.created, 3);
    }

    void destructorStopsEveryEngine() {
        TestHome home(2);
        EngineLog log;
        install(home.ctx().engines, log);
        {
            TDevicesList list(home.ctx().engines);
            addDevice(list, "A", "COM1");
            addDevice(list, "B", "COM2");
            list.StartHostProc(0);
            list.StartHostProc(1);
        }
        QCOMPARE(log.destroyed, 2);
        QCOMPARE(log.stoppedNames, (QStringList{"A", "B"}));
    }

    void reentryWhileAnEngineStops() {
        // An engine stops with Delay, so events run meanwhile; a second Stop or Delete of the
        // same device then must not destroy it twice or free its record under it.
        TestHome home(2);
        EngineLog log;
        TDevicesList list(home.ctx().engines);
        install(home.ctx().engines, log, [&]() {
            Delay(5);
            list.StartHostProc(0); // the same device: refused while its engine stops
            list.StopHostProc(0);
            list.DeleteDevice(0);
        });
        addDevice(list, "A", "COM1");
        addDevice(list, "B", "COM2");
        list.StartHostProc(0);
        list.StopHostProc(0);
        QCOMPARE(log.destroyed, 1);
        QCOMPARE(list.EngineCount(), 0);
        // The nested delete took record A away once it had no engine.
        QCOMPARE(list.Count(), 1);
        QCOMPARE(list.GetSetting(0, dvkDevName), QString("B"));

        list.StartHostProc(0);
        list.DeleteDevice(0); // the nested delete now finds B gone already
        QCOMPARE(log.destroyed, 2);
        QCOMPARE(log.created, 2);
        QCOMPARE(list.Count(), 0);
        QCOMPARE(list.EngineCount(), 0);
        QVERIFY(home.status().join('\n').contains("the device is still stopping"));
    }
};

QTEST_GUILESS_MAIN(TestDevices)
#include "devices_test.moc"
