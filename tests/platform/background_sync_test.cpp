// Syncs on a thread of their own: every file asked for has been synced by the time Drain
// returns, and a failure is kept, naming its file, until it is taken.
#include "platform/background_sync.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class BackgroundSyncTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void syncsAndReportsFailures() {
        QTemporaryDir dir;
        const QString good = dir.filePath("good.log");
        QFile file(good);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("record");
        file.close();

        TBackgroundSync sync;
        sync.Drain(); // nothing asked for: returns at once
        QVERIFY(sync.TakeError().isEmpty());
        sync.Request(good);
        sync.Request(good);
        sync.Drain();
        QVERIFY(sync.TakeError().isEmpty());

        // A file that cannot be opened: the failure names it, once.
        const QString missing = dir.filePath("missing.log");
        sync.Request(missing);
        sync.Request(good);
        sync.Drain();
        const QString error = sync.TakeError();
        QVERIFY2(error.startsWith(missing + ": "), qPrintable(error));
        QVERIFY(sync.TakeError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(BackgroundSyncTest)
#include "background_sync_test.moc"
