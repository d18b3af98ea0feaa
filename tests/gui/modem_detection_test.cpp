// "Detected Modems" against simulated Hayes modems (linesim, published as the program folder's
// ports/COMn): the window keeps working while detection asks the ports, lists the modems with
// their settings, copies the chosen one into the entry being edited, and closes at once with
// Cancel while detection still runs, dropping its result.
#include "common/test_home.h"
#include "common/linesim_process.h"
#include "gui/modem_dialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

namespace {
// Two modems on COM3 and COM4, and one on COM6 that never answers (detection waits for it).
bool startModems(TLinesim& sim, TestHome& home) {
    return sim.Start(
        {"modems", "--modem", home.file("ports/COM3") + "=101,maker=Acme,model=Fast 56K", "--modem",
         home.file("ports/COM4") + "=102", "--modem", home.file("ports/COM6") + "=104,silent"});
}

// Looks only at the port links of the home, not at this machine's serial devices.
TComInfo isolatedSource(const QTemporaryDir& empty) {
    TComInfo source;
    source.TtyClassDir = empty.path();
    source.DevDir = empty.path();
    return source;
}

template <typename T> T* child(const QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (!found) qWarning("no %s", name);
    return found;
}

QStringList rows(const QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(0) + "|" + list->topLevelItem(i)->text(1);
    return out;
}

void clickRow(QTreeWidget* list, int row) {
    const QRect rect = list->visualItemRect(list->topLevelItem(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

int addModem(TModemsList& list, const QString& name) {
    list.AddModem();
    const int index = list.Count() - 1;
    list.PutSetting(index, mdkFriendlyName, name);
    list.PutSetting(index, mdkAttachedTo, "User defined");
    return index;
}

QStringList values(TModemsList& list, int index) {
    QStringList out;
    for (int k = 0; k < ModemKeyCount; ++k)
        out << list.GetSetting(index, TModemKey(k));
    return out;
}
} // namespace

class TestModemDetection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFileInfo(qEnvironmentVariable("LINESIM_BIN")).isExecutable(),
                 "set LINESIM_BIN to the built linesim (ctest does)");
    }

    void listsSimulatedModemsWhileTheWindowKeepsWorking() {
        TestHome home(1);
        TLinesim sim;
        QVERIFY(startModems(sim, home));
        TModemsList& modems = *home.ctx().modems;
        addModem(modems, "Desk modem");
        const int edited = addModem(modems, "Generic Modem");
        modems.CurrentIndex = edited;
        QTemporaryDir empty;

        TfrmDetMdm dialog(modems, home.prompt());
        dialog.presenter().Source = isolatedSource(empty);
        QCOMPARE(dialog.windowTitle(), QString("Detected Modems"));
        QTreeWidget* lvDev = dialog.deviceList();
        QTreeWidget* lvSet = dialog.settingList();
        QCOMPARE(lvDev->objectName(), QString("lvDev"));
        QCOMPARE(lvSet->objectName(), QString("lvSet"));
        QCOMPARE(lvDev->headerItem()->text(0) + "/" + QString::number(lvDev->columnWidth(0)) + " " +
                     lvDev->headerItem()->text(1) + "/" + QString::number(lvDev->columnWidth(1)),
                 QString("Device Name/300 Attached To/170"));
        QCOMPARE(lvSet->headerItem()->text(0) + "/" + QString::number(lvSet->columnWidth(0)) + " " +
                     lvSet->headerItem()->text(1) + "/" + QString::number(lvSet->columnWidth(1)),
                 QString("Device Setting/200 Value/270"));
        QCOMPARE(child<QPushButton>(&dialog, "btSelect")->text(), QString("Select"));
        QVERIFY(child<QPushButton>(&dialog, "btSelect")->isDefault());
        QCOMPARE(child<QPushButton>(&dialog, "btCancel")->text(), QString("&Cancel"));

        // The event loop keeps running while the worker waits for the silent modem.
        QSignalSpy finished(&dialog.presenter(), &TDetectedModems::DetectionFinished);
        QElapsedTimer clock;
        qint64 last = 0, longestGap = 0;
        int ticks = 0;
        QTimer ticker;
        ticker.setInterval(20);
        QObject::connect(&ticker, &QTimer::timeout, [&]() {
            ++ticks;
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        clock.start();
        ticker.start();
        dialog.show();
        QVERIFY(dialog.presenter().Detecting());
        QVERIFY(child<QProgressBar>(&dialog, "pbDetect")->isVisible());
        QVERIFY(finished.wait(15000));
        const qint64 took = clock.elapsed();
        ticker.stop();
        qInfo("detection took %lld ms; %d ticks, longest gap %lld ms", took, ticks, longestGap);
        QVERIFY2(took >= 900, "the silent modem is waited for"); // so the ticks mean something
        QVERIFY(ticks >= took / 20 / 3);
        QVERIFY(longestGap < 500);
        QVERIFY(!child<QProgressBar>(&dialog, "pbDetect")->isVisible());
        QVERIFY(home.status().contains("TModemsList.Detect: nummodems=1"));

        QCOMPARE(rows(lvDev),
                 (QStringList{"Acme Fast 56K|COM3", "linesim Virtual Hayes modem|COM4"}));
        QCOMPARE(lvDev->currentItem(), lvDev->topLevelItem(0));
        QVERIFY(lvDev->topLevelItem(0)->isSelected());
        QCOMPARE(lvSet->topLevelItem(0)->text(0) + "=" + lvSet->topLevelItem(0)->text(1),
                 QString("Manufacturer:=Acme"));
        QCOMPARE(lvSet->topLevelItemCount(), 45); // every key without a "-" caption
        clickRow(lvDev, 1);
        QCOMPARE(lvSet->topLevelItem(1)->text(1), QString("linesim Virtual Hayes modem"));
        QCOMPARE(lvSet->topLevelItem(lvSet->topLevelItemCount() - 1)->text(0) + "=" +
                     lvSet->topLevelItem(lvSet->topLevelItemCount() - 1)->text(1),
                 QString("Unique ID=COM4"));

        child<QPushButton>(&dialog, "btSelect")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(modems.GetSetting(edited, mdkFriendlyName),
                 QString("linesim Virtual Hayes modem"));
        QCOMPARE(modems.GetSetting(edited, mdkAttachedTo), QString("COM4"));
        QCOMPARE(modems.GetSetting(edited, mdkGUID), QString("COM4"));
        QCOMPARE(modems.GetSetting(edited, mdkDefaultInitialization),
                 QString("AT&F E0 V1 &D2 &C1 S0=0"));
        QCOMPARE(modems.GetSetting(0, mdkFriendlyName), QString("Desk modem"));
    }

    void cancelWhileDetectingClosesAtOnce() {
        TestHome home(1);
        TLinesim sim;
        QVERIFY(startModems(sim, home));
        TModemsList& modems = *home.ctx().modems;
        const int edited = addModem(modems, "Generic Modem");
        modems.CurrentIndex = edited;
        const QStringList before = values(modems, edited);
        QTemporaryDir empty;
        QElapsedTimer clock;
        {
            TfrmDetMdm dialog(modems, home.prompt());
            dialog.presenter().Source = isolatedSource(empty);
            QTimer::singleShot(150, &dialog, [&]() {
                QVERIFY(dialog.presenter().Detecting());
                clock.start();
                child<QPushButton>(&dialog, "btCancel")->click();
            });
            QCOMPARE(dialog.exec(), int(QDialog::Rejected));
            QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
        }
        QVERIFY2(clock.elapsed() < 300, "closing does not wait for the worker");
        // The worker ends on its own later; its result reaches nobody.
        QTest::qWait(2500);
        QCOMPARE(modems.Count(), 1);
        QCOMPARE(values(modems, edited), before);
    }

    // "Detect modems..." of "Modem Parameters": the chosen modem fills the fields, and the
    // catalogue changes only with the parameters' own OK.
    void detectedModemFillsModemParameters() {
        TestHome home(1);
        TLinesim sim;
        QVERIFY(startModems(sim, home));
        TModemsList& modems = *home.ctx().modems;
        const int edited = addModem(modems, "Generic Modem");
        modems.CurrentIndex = edited;
        QTemporaryDir empty;
        TfrmMdmProp properties(modems, home.settings(), home.prompt());
        properties.DetectionSource = isolatedSource(empty);
        properties.show();

        bool listed = false;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&]() {
            auto* detected = qobject_cast<TfrmDetMdm*>(QApplication::activeModalWidget());
            if (!detected || detected->presenter().Detecting() ||
                detected->deviceList()->topLevelItemCount() == 0)
                return;
            poll.stop();
            listed = true;
            clickRow(detected->deviceList(), 0);
            child<QPushButton>(detected, "btSelect")->click();
        });
        poll.start();
        child<QPushButton>(&properties, "btModems")->click();
        QVERIFY(listed);
        QCOMPARE(child<QLineEdit>(&properties, "edMdmDesc")->text(), QString("Acme Fast 56K"));
        QCOMPARE(child<QLineEdit>(&properties, "edInit")->text(),
                 QString("AT&F E0 V1 &D2 &C1 S0=0"));
        QCOMPARE(child<QLineEdit>(&properties, "edDialString")->text(), QString("ATDT"));
        QCOMPARE(modems.GetSetting(edited, mdkFriendlyName), QString("Generic Modem"));

        child<QPushButton>(&properties, "btOk")->click();
        QCOMPARE(properties.result(), int(QDialog::Accepted));
        QCOMPARE(modems.GetSetting(edited, mdkFriendlyName), QString("Acme Fast 56K"));
        QCOMPARE(modems.GetSetting(edited, mdkGUID), QString("COM3"));
        QVERIFY(home.prompt().boxes.isEmpty());
    }
};

QTEST_MAIN(TestModemDetection)
#include "modem_detection_test.moc"
