// One server answering on four cables at once, each with its own client and user: every file
// sent and every file fetched arrives whole, in the right user's folders.
#include "e2e_harness.h"

#include <QTest>

using namespace e2e;

class E2EMultiTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fourCables() {
        constexpr int Lines = 4;
        QTemporaryDir root;
        Home server(root.path(), "server");
        QList<int> ports;
        for (int i = 0; i < Lines; ++i)
            ports << 11 + i;
        server.makeServer(ports);

        std::vector<std::unique_ptr<Home>> clients;
        std::vector<std::unique_ptr<LineSim>> cables;
        QList<QByteArray> up, down;
        for (int i = 0; i < Lines; ++i) {
            const QString user = QString("USER%1").arg(i + 1);
            server.addUser(user, "pw" + QString::number(i + 1), root.path() + "/in" + user,
                           root.path() + "/out" + user);
            clients.push_back(std::make_unique<Home>(root.path(), "client" + QString::number(i)));
            clients.back()->makeClient(1);
            up << RandomBytes(150000 + i * 1000, 100 + i);
            down << RandomBytes(90000 + i * 1000, 200 + i);
            QVERIFY(clients.back()->put("OUTBOX/up.bin", up.last()));
            QVERIFY(WriteAll(root.path() + "/out" + user + "/down.bin", down.last()));
            cables.push_back(std::make_unique<LineSim>(
                "cable", QStringList{}, clients.back()->portLink(1), server.portLink(ports[i]),
                root.path() + QString("/linesim%1.log").arg(i)));
            QVERIFY(cables.back()->ready());
        }

        Program serverProgram(server);
        E2E_VERIFY(serverProgram.waitFor("Listening for command...", 20000, Lines),
                   serverProgram.output());
        for (int i = 0; i < Lines; ++i)
            RunOnce(server, {root.path() + QString("/outUSER%1/down.bin").arg(i + 1),
                             QString("USER%1").arg(i + 1)});
        QVERIFY(serverProgram.waitFor("File queued: ", 20000, Lines));

        std::vector<std::unique_ptr<Program>> programs;
        for (int i = 0; i < Lines; ++i) {
            programs.push_back(std::make_unique<Program>(*clients[size_t(i)]));
            // The hand-over below needs the first instance to hold its lock already.
            QVERIFY(programs.back()->waitFor("Application started.", 15000));
            RunOnce(*clients[size_t(i)],
                    {clients[size_t(i)]->outbox() + "up.bin", QString("user%1").arg(i + 1),
                     "pw" + QString::number(i + 1), "0"});
        }
        for (int i = 0; i < Lines; ++i) {
            E2E_VERIFY(clients[size_t(i)]->waitLog("client.log", 2, 120000),
                       programs[size_t(i)]->output() + serverProgram.output());
        }
        QVERIFY(server.waitLog("server.log", 2 * Lines, 20000));
        for (int i = 0; i < Lines; ++i) {
            const QString user = QString("USER%1").arg(i + 1);
            QCOMPARE(Home::tree(root.path() + "/in" + user), QStringList{"up.bin"});
            QVERIFY(ReadAll(root.path() + "/in" + user + "/up.bin") == up[i]);
            QCOMPARE(Home::tree(clients[size_t(i)]->inbox()), QStringList{"down.bin"});
            QVERIFY(ReadAll(clients[size_t(i)]->inbox() + "down.bin") == down[i]);
            for (const TLogRecord& r : clients[size_t(i)]->log("client.log"))
                QVERIFY2(r.Done, qPrintable(r.FileName + ": " + r.Result));
        }
        for (const TLogRecord& r : server.log("server.log"))
            QVERIFY2(r.Done, qPrintable(r.UserName + " " + r.FileName + ": " + r.Result));
        // Every served job has left the server's queue.
        QStringList left;
        WaitUntil(
            [&]() {
                left.clear();
                for (const TQueueItem& job : server.jobs())
                    left << Get(job, qkNo) + ":" + Get(job, qkUser) + ":" + Get(job, qkSrcFile);
                return left.isEmpty();
            },
            5000);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(", ") + "\n" + serverProgram.output()));
        for (auto& program : programs)
            QVERIFY(program->stop());
        QVERIFY(serverProgram.stop());
    }
};

QTEST_GUILESS_MAIN(E2EMultiTest)
#include "multi_test.moc"
