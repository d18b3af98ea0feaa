// The received-file helper: hidden temporary names, the one-step replacement of a whole file,
// and the removal of a killed receiver's leftovers (and of nothing else).
#include "common/test_home.h"
#include "platform/received_file.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace received_file;

class TestReceivedFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void temporaryNames() {
        TestHome home;
        const QString final = home.file("in/report.txt");
        const QString a = TemporaryPath(final), b = TemporaryPath(final);
        QVERIFY(a != b);
        QCOMPARE(QFileInfo(a).path(), QFileInfo(final).path());
        QVERIFY(QFileInfo(a).fileName().startsWith(".report.txt.mrl-"));
        QVERIFY(IsTemporaryName(QFileInfo(a).fileName()));
        // A final name of 255 bytes in two-byte characters still gives a name that fits.
        const QString longName = QString(127, QChar(0x00e9)) + "x";
        QCOMPARE(longName.toUtf8().size(), 255);
        const QString temp = QFileInfo(TemporaryPath(home.file(longName))).fileName();
        QVERIFY(temp.toUtf8().size() <= 255);
        QVERIFY(IsTemporaryName(temp));
        for (const char* other : {".report.part", "report.mrl-1-1.part", ".a.mrl-x-1.part",
                                  ".a.mrl-1-1.partial", ".a.mrl-1.part"})
            QVERIFY2(!IsTemporaryName(other), other);
    }

    void commitReplacesOnlyWhenWhole() {
        TestHome home;
        const QString final = home.file("in/report.txt");
        QVERIFY(WriteFile(final, "old"));
        const QString temp = TemporaryPath(final);
        QVERIFY(WriteFile(temp, "new and whole"));
        QCOMPARE(ReadFile(final), QByteArray("old")); // stays until the new one is whole
        QString error;
        QVERIFY(Commit(temp, final, &error));
        QCOMPARE(ReadFile(final), QByteArray("new and whole"));
        QVERIFY(!QFileInfo::exists(temp));
        // A folder of that name cannot be replaced: the temporary file stays for the caller.
        QVERIFY(QDir().mkpath(home.file("in/folder.bin")));
        const QString other = TemporaryPath(home.file("in/folder.bin"));
        QVERIFY(WriteFile(other, "x"));
        QVERIFY(!Commit(other, home.file("in/folder.bin"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QFileInfo::exists(other));
        QVERIFY(Discard(other));
        QVERIFY(Discard(other)); // gone already
    }

    void leftoversOfDeadProcessesOnly() {
        TestHome home;
        const QString folder = home.file("in/");
        // A process that has ended, and one that still runs.
        QProcess ended, running;
        ended.start("true");
        QVERIFY(ended.waitForFinished());
        const qint64 deadPid = ended.processId() ? ended.processId() : 999999;
        running.start("sleep", {"30"});
        QVERIFY(running.waitForStarted());
        const auto name = [](qint64 pid) {
            return QString(".f.bin.mrl-%1-1.part").arg(pid);
        };
        const QStringList kept{name(running.processId()), name(QCoreApplication::applicationPid()),
                               ".f.bin.part", "f.bin.mrl-1-1.part", "other.txt"};
        for (const QString& file : kept + QStringList{name(deadPid), name(4194305)})
            QVERIFY(WriteFile(folder + file, "x"));
        QVERIFY(WriteFile(folder + "sub/" + name(deadPid), "x")); // not in subfolders
        // The ended process's id is taken again only rarely; a live one keeps its file.
        const bool deadIsDead = !QFileInfo::exists(QString("/proc/%1").arg(deadPid));
        QCOMPARE(RemoveLeftovers(folder), deadIsDead ? 2 : 1);
        QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        QStringList expected = kept;
        if (!deadIsDead) expected << name(deadPid);
        left.sort();
        expected.sort();
        QCOMPARE(left, expected);
        QVERIFY(QFileInfo::exists(folder + "sub/" + name(deadPid)));
        running.kill();
        running.waitForFinished();
    }

    void storableNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("storable");
        QTest::newRow("plain") << "report.txt" << true;
        QTest::newRow("with folders") << "SUB\\DIR/report.txt" << true;
        QTest::newRow("255 bytes") << QString(255, 'x') << true;
        QTest::newRow("256 bytes") << QString(256, 'x') << false;
        QTest::newRow("255 two-byte characters") << QString(255, QChar(0x00e9)) << false;
        QTest::newRow("NUL") << QString::fromLatin1("a\0b", 3) << false;
        QTest::newRow("tab") << "a\tb" << false;
        QTest::newRow("DEL") << "a\x7f" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("folder only") << "SUB\\" << false;
        QTest::newRow("a temporary name") << ".x.mrl-12-3.part" << false;
        QTest::newRow("a temporary name in a folder") << "SUB\\.x.mrl-12-3.part" << false;
    }
    void storableNames() {
        QFETCH(QString, name);
        QFETCH(bool, storable);
        QCOMPARE(IsStorableName(name), storable);
    }
};

QTEST_GUILESS_MAIN(TestReceivedFile)
#include "received_file_test.moc"
