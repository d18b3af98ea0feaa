// Syncs and deletes on a thread of their own: every file asked for has been synced or deleted
// by the time Drain returns, and a failure is kept, naming its file, until it is taken.
#include "platform/background_sync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

    void removesAndReportsFailures() {
        QTemporaryDir dir;
        TBackgroundSync sync;
        QStringList paths;
        for (int i = 0; i < 20; ++i) {
            paths << dir.filePath(QString("%1.job").arg(i));
            QFile file(paths.last());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("job");
        }
        for (const QString& path : paths)
            sync.RequestRemove(path);
        // One that is gone already is no failure.
        sync.RequestRemove(dir.filePath("never-there.job"));
        sync.Drain();
        for (const QString& path : paths)
            QVERIFY2(!QFile::exists(path), qPrintable(path));
        QVERIFY(sync.TakeError().isEmpty());

        // One that cannot be deleted (a folder; even root cannot unlink it) is named.
        const QString folder = dir.filePath("folder");
        QVERIFY(QDir().mkdir(folder));
        sync.RequestRemove(folder);
        sync.Drain();
        const QString error = sync.TakeError();
        QVERIFY2(error.startsWith(folder + ": "), qPrintable(error));
        QVERIFY(QFileInfo(folder).isDir());

        // Asked for just before the end: still done.
        {
            TBackgroundSync last;
            QFile file(paths[0]);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            last.RequestRemove(paths[0]);
        }
        QVERIFY(!QFile::exists(paths[0]));
    }
};

QTEST_GUILESS_MAIN(BackgroundSyncTest)
#include "background_sync_test.moc"
