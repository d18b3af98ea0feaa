// The job queue: numbering, job files by role, loading what is on disk, and deleting.
#include "common/test_home.h"
#include "core/inifile.h"
#include "core/settings.h"
#include "jobs/queue.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
TQueueItem job(TQueueList& queue, const QString& src, const QString& user = "BOB") {
    TQueueItem item;
    queue.EmptyItem(item);
    Put(item, qkSrcFile, src);
    Put(item, qkUser, user);
    Put(item, qkDestPath, "IN\\");
    return item;
}

// Queues a job the way the consoles do.
void enqueue(TQueueList& queue, const TQueueItem& item) {
    queue.AddItem();
    queue.ItemIndex = queue.Count() - 1;
    queue.SetItem(queue.Count() - 1, &item);
    QVERIFY(queue.Save());
}

QStringList numbers(TQueueList& queue) {
    QStringList out;
    for (int i = 0; i < queue.Count(); ++i)
        out << queue.GetSetting(i, qkNo);
    return out;
}
} // namespace

class TestQueue : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void jobFileByRole_data() {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("file");
        QTest::newRow("client") << 1 << "QUEUE/1.xfr";
        QTest::newRow("server") << 2 << "QUEUE/1.xfh";
        QTest::newRow("no role") << 0 << "QUEUE/1";
    }
    void jobFileByRole() {
        QFETCH(int, role);
        QFETCH(QString, file);
        TestHome home(role);
        TQueueList queue(home.settings(), home.sink());
        TQueueItem item = job(queue, "/data/a.txt");
        Put(item, qkPassw, "0A1B");
        enqueue(queue, item);
        const QStringList written = QDir(home.file("QUEUE")).entryList(QDir::Files);
        QCOMPARE(written, QStringList{QFileInfo(file).fileName()});

        // One [ITEM] section, the 13 values in key order.
        const QStringList lines = QString::fromUtf8(ReadFile(home.file(file))).split('\n');
        QCOMPARE(lines.value(0), QString("[ITEM]"));
        for (int k = 0; k < QueueKeyCount; ++k)
            QVERIFY2(lines.value(k + 1).startsWith(QString(QueueKeyNames[k]) + "="),
                     qPrintable(lines.value(k + 1)));
        QCOMPARE(lines.value(1), QString("qkNo=1"));
        QCOMPARE(lines.value(5), QString("qkSrcFile=/data/a.txt"));

        // Files of the other roles are not this role's jobs; with no role every file is one.
        WriteFile(home.file("QUEUE/7.xfr"), "[ITEM]\nqkNo=7\n");
        WriteFile(home.file("QUEUE/8.xfh"), "[ITEM]\nqkNo=8\n");
        TQueueList reloaded(home.settings(), home.sink());
        reloaded.Load();
        QCOMPARE(reloaded.Count(), role == 0 ? 3 : 2);
        QCOMPARE(reloaded.GetSetting(0, qkSrcFile), QString("/data/a.txt"));
        QCOMPARE(reloaded.GetSetting(0, qkPassw), QString("0A1B"));
        QCOMPARE(reloaded.GetSetting(0, qkMethod), QString("SEND"));
        QCOMPARE(reloaded.GetSetting(0, qkAutoDel), QString("NO"));
        QVERIFY(!reloaded.GetSetting(0, qkDate).isEmpty());
    }

    void numbersWrapAndSkipWaitingJobs() {
        TestHome home(1);
        TQueueList queue(home.settings(), home.sink());
        home.settings().PutInt(MRL_QueueCounter, 9998);
        queue.AddItem();
        queue.AddItem();
        QCOMPARE(numbers(queue), (QStringList{"9999", "1"}));
        QCOMPARE(home.settings().GetInt(MRL_QueueCounter), 1);

        // Wrapping onto a number that a waiting job still holds would overwrite its file.
        home.settings().PutInt(MRL_QueueCounter, 9999);
        queue.AddItem();
        QCOMPARE(queue.GetSetting(2, qkNo), QString("2"));
        WriteFile(home.file("QUEUE/3.xfr"), "[ITEM]\nqkNo=3\n"); // on disk, not loaded
        queue.AddItem();
        QCOMPARE(queue.GetSetting(3, qkNo), QString("4"));

        // A counter that is not a job number starts again at 1.
        TQueueList other(home.settings(), home.sink());
        home.settings().PutInt(MRL_QueueCounter, -40);
        other.AddItem();
        QCOMPARE(other.GetSetting(0, qkNo), QString("1"));
    }

    void saveRaisesTheCounterToCount() {
        TestHome home(1);
        TQueueList queue(home.settings(), home.sink());
        for (int i = 0; i < 3; ++i)
            queue.AddItem();
        home.settings().PutInt(MRL_QueueCounter, 1);
        QVERIFY(queue.Save());
        QCOMPARE(home.settings().GetInt(MRL_QueueCounter), 3);
        QVERIFY(QFile::exists(home.file("QUEUE/3.xfr")));
        QVERIFY(!QFile::exists(home.file("QUEUE/1.xfr"))); // only the last job is written
    }

    void setItemPastTheEnd() {
        TestHome home(1);
        TQueueList queue(home.settings(), home.sink());
        queue.AddItem();
        TQueueItem item = job(queue, "/x/y.bin");
        queue.SetItem(3, &item);
        QCOMPARE(queue.Count(), 4);
        QCOMPARE(numbers(queue), (QStringList{"1", "2", "3", "4"}));
        QCOMPARE(queue.GetSetting(3, qkSrcFile), QString("/x/y.bin"));
        QCOMPARE(queue.GetSetting(2, qkSrcFile), QString());

        // A record with its own number keeps it.
        Put(item, qkNo, "77");
        queue.SetItem(0, &item);
        QCOMPARE(queue.GetSetting(0, qkNo), QString("77"));
        queue.SetItem(-1, &item);
        queue.SetItem(1, nullptr);
        QCOMPARE(queue.Count(), 4);

        // Values are cut to 255 bytes without splitting a character.
        Put(item, qkSrcFile, QString(300, QChar(0x00E9)));
        queue.SetItem(1, &item);
        QCOMPARE(queue.GetSetting(1, qkSrcFile).toUtf8().size(), 254);
        queue.PutSetting(1, qkUser, QString(300, 'u'));
        QCOMPARE(queue.GetSetting(1, qkUser).size(), 255);
        queue.PutSetting(9, qkUser, "nobody");
        QCOMPARE(queue.GetSetting(9, qkUser), QString());
        QVERIFY(!queue.GetItem(4));
        QVERIFY(queue.GetItem(3));
    }

    void deleteItem() {
        TestHome home(1);
        TQueueList queue(home.settings(), home.sink());
        for (int i = 0; i < 4; ++i)
            enqueue(queue, job(queue, QString("/f%1").arg(i)));
        QVERIFY(QFile::exists(home.file("QUEUE/2.xfr")));

        queue.ItemIndex = 1;
        QVERIFY(queue.DeleteItem(1, true));
        QVERIFY(!QFile::exists(home.file("QUEUE/2.xfr")));
        QCOMPARE(queue.ItemIndex, -1);

        // The file is already gone: the job goes all the same.
        QVERIFY(QFile::remove(home.file("QUEUE/3.xfr")));
        queue.ItemIndex = 2;
        QVERIFY(queue.DeleteItem(1, true));
        QCOMPARE(numbers(queue), (QStringList{"1", "4"}));
        QCOMPARE(queue.ItemIndex, 2); // another job's index stays as it was

        // Without the flag the file stays.
        QVERIFY(queue.DeleteItem(0, false));
        QVERIFY(QFile::exists(home.file("QUEUE/1.xfr")));

        // A job file that cannot be deleted keeps the job.
        QVERIFY(QFile::remove(home.file("QUEUE/4.xfr")));
        QVERIFY(QDir().mkpath(home.file("QUEUE/4.xfr/busy")));
        QVERIFY(!queue.DeleteItem(0, true));
        QCOMPARE(queue.Count(), 1);
        QVERIFY(home.status().join('\n').contains("!TQueueList.DeleteItem: "));

        QVERIFY(!queue.DeleteItem(1, true));
        QVERIFY(!queue.DeleteItem(-1, false));
    }

    void deleteItemInBackground() {
        // The server deletes the job of a served file off its main thread; the job must not
        // come back with the next Load, nor take a newer job's file with it.
        TestHome home(2);
        TQueueList queue(home.settings(), home.sink());
        for (int i = 0; i < 30; ++i)
            enqueue(queue, job(queue, QString("/f%1").arg(i)));
        for (int i = 0; i < 20; ++i)
            QVERIFY(queue.DeleteItem(0, true, true));
        queue.Load();
        QCOMPARE(queue.Count(), 10);
        QCOMPARE(queue.GetSetting(0, qkNo), QString("21"));
        QCOMPARE(QDir(home.file("QUEUE")).entryList(QDir::Files).size(), 10);

        // A job saved under the number of one on its way out keeps its file.
        for (int round = 0; round < 20; ++round) {
            const QString number = queue.GetSetting(queue.Count() - 1, qkNo);
            TQueueItem again = *queue.GetItem(queue.Count() - 1);
            Put(again, qkSrcFile, QString("/again%1").arg(round));
            QVERIFY(queue.DeleteItem(queue.Count() - 1, true, true));
            queue.SetItem(queue.Count(), &again);
            QVERIFY(queue.Save());
            queue.Load();
            QCOMPARE(queue.GetSetting(queue.Count() - 1, qkNo), number);
            QCOMPARE(queue.GetSetting(queue.Count() - 1, qkSrcFile),
                     QString("/again%1").arg(round));
        }

        // A delete that fails is told at the next call.
        const QString first = home.file("QUEUE/" + queue.GetSetting(0, qkNo) + ".xfh");
        QVERIFY(QFile::remove(first));
        QVERIFY(QDir().mkpath(first + "/busy"));
        QVERIFY(queue.DeleteItem(0, true, true));
        queue.Load();
        QVERIFY(home.status().join('\n').contains("!TQueueList.DeleteItem: " + first));
    }

    // A job file is read by the rules of profile files, like every list of records.
    void jobFileRules_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("source");
        QTest::newRow("names without case") << QByteArray("[item]\nQKSRCFILE=a.txt\n") << "a.txt";
        QTest::newRow("first occurrence wins")
            << QByteArray("[ITEM]\nqkSrcFile=first\nqkSrcFile=second\n") << "first";
        QTest::newRow("first section only")
            << QByteArray("[ITEM]\nqkUser=U\n[ITEM]\nqkSrcFile=second\n") << "";
        QTest::newRow("blanks trimmed, quotes taken off")
            << QByteArray("[ITEM]\n  qkSrcFile  =  \"  b.txt \"  \n") << "  b.txt ";
        QTest::newRow("cut to 255 bytes") << "[ITEM]\nqkSrcFile=" + QByteArray(300, 'c') + "\n"
                                          << QString(255, 'c');
    }
    void jobFileRules() {
        QFETCH(QByteArray, file);
        QFETCH(QString, source);
        TestHome home(1);
        WriteFile(home.file("QUEUE/4.xfr"), file);
        TQueueList queue(home.settings(), home.sink());
        queue.Load();
        QCOMPARE(queue.Count(), 1);
        QCOMPARE(queue.GetSetting(0, qkSrcFile), source);
        QCOMPARE(queue.GetSetting(0, qkNo), QString("4"));
        // Only the keys of a job exist.
        QCOMPARE(queue.GetSetting(0, TQueueKey(QueueKeyCount)), QString());
        queue.PutSetting(0, TQueueKey(QueueKeyCount), "x");
        QCOMPARE(queue.GetSetting(1, qkNo), QString());
    }

    // A job's size is a length in bytes in decimal digits; the job file keeps its text.
    void jobSizes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("known");
        QTest::addColumn<qint64>("size");
        QTest::newRow("digits") << "4000" << true << qint64(4000);
        QTest::newRow("past 32 bits") << "5368709120" << true << qint64(5368709120);
        QTest::newRow("leading zeros") << "007" << true << qint64(7);
        QTest::newRow("empty") << "" << false << qint64(0);
        QTest::newRow("sign") << "+12" << false << qint64(0);
        QTest::newRow("negative") << "-1" << false << qint64(0);
        QTest::newRow("blank inside") << "1 2" << false << qint64(0);
        QTest::newRow("other digits") << QString::fromUtf8("\u0661\u0662") << false << qint64(0);
        QTest::newRow("too large") << "99999999999999999999" << false << qint64(0);
    }
    void jobSizes() {
        QFETCH(QString, text);
        QFETCH(bool, known);
        QFETCH(qint64, size);
        TestHome home(2);
        TQueueList queue(home.settings(), home.sink());
        TQueueItem item = job(queue, "a");
        Put(item, qkSize, text);
        enqueue(queue, item);
        TQueueList reloaded(home.settings(), home.sink());
        reloaded.Load();
        const TQueueItem* back = reloaded.GetItem(0);
        QVERIFY(back);
        QCOMPARE(Get(*back, qkSize), text);
        bool isKnown = !known;
        QCOMPARE(JobSize(*back, &isKnown), size);
        QCOMPARE(isKnown, known);
        QCOMPARE(ParseJobSize(text), known);
        if (known) {
            TQueueItem stored;
            PutJobSize(stored, size);
            QCOMPARE(JobSize(stored), size);
        }
    }

    void loadSurvivesGarbage() {
        TestHome home(2);
        WriteFile(home.file("QUEUE/10.xfh"), "[ITEM]\nqkNo=10\nqkSrcFile=ten\n");
        WriteFile(home.file("QUEUE/2.xfh"), "[ITEM]\r\nqkNo=2\r\nqkSrcFile=two\r\n");
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage += char((i * 7919) & 0xFF);
        WriteFile(home.file("QUEUE/5.xfh"), garbage);
        WriteFile(home.file("QUEUE/6.xfh"), "[ITEM]\nqkSrcFile=six\n"); // no number inside
        WriteFile(home.file("QUEUE/.12.xfh.tmp"), "[ITEM]\nqkNo=12\n");
        QDir().mkpath(home.file("QUEUE/3.xfh"));

        TQueueList queue(home.settings(), home.sink());
        TQueueItem old = job(queue, "old");
        queue.SetItem(0, &old);
        queue.Load();
        // Job-number order; the damaged file is skipped and reported.
        QCOMPARE(numbers(queue), (QStringList{"2", "6", "10"}));
        QCOMPARE(queue.GetSetting(0, qkSrcFile), QString("two"));
        QCOMPARE(queue.GetSetting(1, qkSrcFile), QString("six"));
        QCOMPARE(queue.GetSetting(2, qkUser), QString());
        QVERIFY(home.status().join('\n').contains("!TQueueList.Load: 5.xfh"));

        // The job read without a number can still delete its own file.
        QVERIFY(queue.DeleteItem(1, true));
        QVERIFY(!QFile::exists(home.file("QUEUE/6.xfh")));
    }

    // A damaged job file may carry a number that cannot name a file: a NUL would cut the name
    // short (the job saved under "7" would never be found again), a line break or separator
    // would put it elsewhere, a leading '.' would hide it from the next Load. Such a job is not
    // saved, and deleting it touches no file.
    void unusableJobNumbers() {
        TestHome home(1);
        TQueueList queue(home.settings(), home.sink());
        WriteFile(home.file("QUEUE/7"), "keep");
        WriteFile(home.file("7.xfr"), "keep");
        for (const QString& number : {QString::fromUtf8(QByteArray("7\0x", 3)), QString("7\r8"),
                                      QString("..\\7"), QString("../7"), QString(".")}) {
            TQueueItem item = job(queue, "a");
            Put(item, qkNo, number);
            queue.Clear();
            queue.AddItem();
            queue.SetItem(0, &item);
            QVERIFY2(!queue.Save(), qPrintable(number));
            QCOMPARE(QDir(home.file("QUEUE")).entryList(QDir::Files | QDir::Hidden),
                     QStringList{"7"});
            QVERIFY(queue.DeleteItem(0, true));
        }
        QVERIFY(QFile::exists(home.file("7.xfr")));
        QVERIFY(home.status().join('\n').contains("invalid job number"));
    }

    void loadWithoutJobFilesKeepsTheList() {
        TestHome home(1);
        TQueueList queue(home.settings(), home.sink());
        queue.AddItem();
        queue.Load();
        QCOMPARE(queue.Count(), 1);
    }

    void lookups() {
        TestHome home(1);
        TQueueList queue(home.settings(), home.sink());
        enqueue(queue, job(queue, "/Data/A.TXT"));
        enqueue(queue, job(queue, "/DATA/A.TXT"));
        // File names keep their case on Linux: the comparison is exact.
        QCOMPARE(queue.ItemIndexByFile("/DATA/A.TXT"), 1);
        QCOMPARE(queue.ItemIndexByFile("/data/a.txt"), -1);

        TQueueItem probe = job(queue, "/DATA/A.TXT");
        // Number, date, auto-delete, size and device name do not take part.
        Put(probe, qkNo, "999");
        Put(probe, qkDate, "yesterday");
        Put(probe, qkAutoDel, "YES");
        Put(probe, qkSize, "12");
        Put(probe, qkCommName, "COM9");
        QCOMPARE(queue.SearchItem(probe), 1);
        const TQueueKey compared[] = {qkMethod, qkSrcFile,     qkDestPath, qkUser,
                                      qkPassw,  qkResultsFile, qkCommGUID, qkCommParam};
        for (TQueueKey key : compared) {
            TQueueItem other = probe;
            Put(other, key, Get(other, key) + "x");
            QVERIFY2(queue.SearchItem(other) == -1, QueueKeyNames[key]);
        }
    }

    void clearKeepsFiles() {
        TestHome home(1);
        TQueueList queue(home.settings(), home.sink());
        enqueue(queue, job(queue, "a"));
        enqueue(queue, job(queue, "b"));
        queue.ItemIndex = 0;
        queue.Clear();
        QCOMPARE(queue.Count(), 0);
        QCOMPARE(queue.ItemIndex, -1);
        QCOMPARE(QDir(home.file("QUEUE")).entryList(QDir::Files).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestQueue)
#include "queue_test.moc"
