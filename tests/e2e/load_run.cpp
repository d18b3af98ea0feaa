#include "load_run.h"

#include "core/helpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>

#include <cmath>
#include <unistd.h>
#include <memory>
#include <vector>

namespace e2e {

namespace {
constexpr int FirstServerPort = 11;

QString userName(int link) {
    return QString("USER%1").arg(link + 1);
}

QString password(int link) {
    return QString("pw%1").arg(link + 1);
}

// "L3-up-07.bin": the link and the direction are in the name, so a file that lands in another
// user's folder is seen by its name as well as by its bytes.
QString fileName(int link, bool up, int index) {
    return QString("L%1-%2-%3.bin")
        .arg(link + 1)
        .arg(up ? "up" : "down")
        .arg(index + 1, 2, 10, QChar('0'));
}

quint32 contentSeed(quint32 seed, int link, bool up, int index) {
    return seed * 2654435761u ^ quint32(link * 40503 + index * 2 + (up ? 0 : 1));
}

// Appends what a transcript file gained since the last look, line by line.
class TranscriptTail {
public:
    explicit TranscriptTail(QString path) : mPath(std::move(path)) {}
    QStringList newLines() {
        QFile file(mPath);
        if (!file.open(QIODevice::ReadOnly) || file.size() <= mOffset) return {};
        file.seek(mOffset);
        const QByteArray bytes = file.readAll();
        mOffset += bytes.size();
        mPartial += bytes;
        QStringList lines;
        qsizetype end;
        while ((end = mPartial.indexOf('\n')) >= 0) {
            lines << QString::fromUtf8(mPartial.left(end));
            mPartial.remove(0, end + 1);
        }
        return lines;
    }

private:
    QString mPath;
    qint64 mOffset = 0;
    QByteArray mPartial;
};

struct LinkSetup {
    std::unique_ptr<Home> client;
    std::unique_ptr<LineSim> cable;
    std::unique_ptr<Program> program;
    std::unique_ptr<TranscriptTail> tail;
    QString inbox, outbox; // the user's folders on the server
    QList<QByteArray> up, down;
};

QMap<TQueueKey, QString> clientJob(int link, const QString& name, qsizetype size) {
    return {{qkMethod, "SEND"},
            {qkAutoDel, "NO"},
            {qkSrcFile, name},
            {qkSize, QString::number(size)},
            {qkUser, userName(link)},
            {qkPassw, ScramblePassword(password(link))},
            {qkCommName, "COM1"},
            {qkCommGUID, "COM1"}};
}

QMap<TQueueKey, QString> hostJob(int link, const QString& name, qsizetype size) {
    return {{qkMethod, "SEND"},   {qkAutoDel, "NO"},    {qkSrcFile, name},
            {qkSize, QString::number(size)},           {qkUser, userName(link)},
            {qkPassw, "-"},       {qkCommName, "-"},    {qkCommGUID, "-"},
            {qkCommParam, "-"}};
}

// Compares a folder with the files that belong in it: the same names, each byte for byte.
void checkFolder(const QString& folder, const QStringList& names, const QList<QByteArray>& bytes,
                 const QString& what, int* whole, qint64* wholeBytes, QStringList* faults) {
    const QStringList found = Home::tree(folder);
    QStringList expected = names;
    expected.sort();
    for (const QString& name : found)
        if (!expected.contains(name)) *faults << what + ": unexpected file " + name;
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray got = ReadAll(folder + "/" + names[i]);
        if (!found.contains(names[i]))
            *faults << what + ": missing " + names[i];
        else if (got != bytes[i])
            *faults << what + ": " + names[i] + " differs (" + QString::number(got.size()) +
                           " bytes, " + QString::number(bytes[i].size()) + " expected)";
        else {
            ++*whole;
            *wholeBytes += got.size();
        }
    }
}

// Every record Done, each file logged once with the method of its direction.
void checkClientLog(const Home& client, const QStringList& upNames, const QStringList& downNames,
                    QStringList* faults) {
    const QList<TLogRecord> log = client.log("client.log");
    if (log.size() != upNames.size() + downNames.size())
        *faults << QString("client.log: %1 records, %2 expected")
                       .arg(log.size())
                       .arg(upNames.size() + downNames.size());
    QSet<QString> seen;
    for (const TLogRecord& r : log) {
        const bool up = upNames.contains(r.FileName);
        if (!r.Done) *faults << "client.log: " + r.FileName + " not done: " + r.Result;
        if (!up && !downNames.contains(r.FileName))
            *faults << "client.log: record of a foreign file " + r.FileName;
        else if (r.Method != (up ? "SEND" : "RECV"))
            *faults << "client.log: " + r.FileName + " logged as " + r.Method;
        if (seen.contains(r.FileName)) *faults << "client.log: " + r.FileName + " logged twice";
        seen.insert(r.FileName);
    }
}
// User and system time of a running process (all its threads), from /proc; -1 when unknown.
double processorSeconds(int pid) {
    const QByteArray stat = ReadAll(QString("/proc/%1/stat").arg(pid));
    // The fields after the command name (which may hold spaces) start after its ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (fields.size() < 13 || ticks <= 0) return -1;
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(ticks);
}
} // namespace

QList<qsizetype> LoadSizes(int count, qsizetype largest, quint32 seed) {
    QList<qsizetype> sizes;
    if (count >= 1) sizes << 1;
    if (count >= 2) sizes << largest;
    QRandomGenerator random(seed);
    const double top = std::log(double(largest));
    while (sizes.size() < count)
        sizes << qBound<qsizetype>(1, qsizetype(std::exp(random.generateDouble() * top)), largest);
    return sizes;
}

double LoadLink::seconds() const {
    return firstTransferMs >= 0 && lastDoneMs > firstTransferMs
               ? double(lastDoneMs - firstTransferMs) / 1000.0
               : 0.0;
}

double LoadLink::goodput() const {
    const double s = seconds();
    return s > 0 ? double(bytesUp + bytesDown) / s : 0.0;
}

bool LoadResult::ok() const {
    if (!finished || !faults.isEmpty()) return false;
    for (const LoadLink& link : links)
        if (!link.faults.isEmpty()) return false;
    return true;
}

QString LoadResult::faultText() const {
    QStringList out = faults;
    if (!finished) out << "not every batch ended in time";
    for (int i = 0; i < links.size(); ++i)
        for (const QString& fault : links[i].faults)
            out << QString("link %1: ").arg(i + 1) + fault;
    return out.join('\n');
}

LoadResult RunLoad(const QString& root, const LoadOptions& options) {
    LoadResult result;
    const int links = options.links;
    const QList<qsizetype> upSizes = LoadSizes(options.files, options.largest, options.seed);
    const QList<qsizetype> downSizes =
        LoadSizes(options.files, options.largest, options.seed + 1000);

    // ---- the server, its users and their files and jobs
    Home server(root, "server");
    QList<int> ports;
    for (int i = 0; i < links; ++i)
        ports << FirstServerPort + i;
    server.makeServer(ports);
    std::vector<LinkSetup> setups(static_cast<size_t>(links));
    int hostJobNo = 0;
    for (int i = 0; i < links; ++i) {
        LinkSetup& link = setups[size_t(i)];
        link.inbox = root + "/users/" + userName(i) + "/in";
        link.outbox = root + "/users/" + userName(i) + "/out";
        server.addUser(userName(i), password(i), link.inbox, link.outbox);
        link.client = std::make_unique<Home>(root, QString("client%1").arg(i + 1));
        link.client->makeClient(1);
        for (int j = 0; j < options.files; ++j) {
            link.up << RandomBytes(upSizes[j], contentSeed(options.seed, i, true, j));
            link.down << RandomBytes(downSizes[j], contentSeed(options.seed, i, false, j));
            const QString upName = fileName(i, true, j), downName = fileName(i, false, j);
            if (!link.client->put("OUTBOX/" + upName, link.up.last()) ||
                !WriteAll(link.outbox + "/" + downName, link.down.last())) {
                result.faults << "could not write the files to send";
                return result;
            }
            link.client->writeJob(j + 1, "xfr", clientJob(i, upName, upSizes[j]));
            server.writeJob(++hostJobNo, "xfh", hostJob(i, downName, downSizes[j]));
        }
        link.cable = std::make_unique<LineSim>("cable", options.lineOptions,
                                               link.client->portLink(1), server.portLink(ports[i]),
                                               root + QString("/linesim%1.log").arg(i + 1));
        if (!link.cable->ready()) {
            result.faults << QString("linesim %1 did not start").arg(i + 1);
            return result;
        }
    }

    // ---- the programs: the server first, listening on every port, then all clients at once
    const QString stallFile = root + "/server-stall.txt";
    Program serverProgram(server, {}, {{TStallProbe::EnvironmentName, stallFile}});
    if (!serverProgram.waitFor("Listening for command...", 30000, links)) {
        result.faults << "the server did not listen on every port";
        result.transcripts = serverProgram.output();
        return result;
    }
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < links; ++i) {
        LinkSetup& link = setups[size_t(i)];
        link.program = std::make_unique<Program>(*link.client);
        link.tail = std::make_unique<TranscriptTail>(link.program->stdoutPath());
    }

    // ---- timing from the transcripts until every batch has ended
    result.links.resize(links);
    const int timeoutMs = Scaled(options.timeoutMs);
    int ended = 0;
    while (ended < links && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
        const qint64 now = clock.elapsed();
        for (int i = 0; i < links; ++i) {
            LoadLink& link = result.links[i];
            if (link.batchEndMs >= 0) continue;
            for (const QString& line : setups[size_t(i)].tail->newLines()) {
                if (line.contains("Transferring...") && link.firstTransferMs < 0)
                    link.firstTransferMs = now;
                else if (line.contains("File done."))
                    link.lastDoneMs = now;
                else if (line.contains("No files to retrieve from server.")) {
                    link.batchEndMs = now;
                    ++ended;
                    break;
                }
            }
        }
        bool alive = serverProgram.running();
        for (const LinkSetup& link : setups)
            alive = alive && link.program->running();
        if (!alive) {
            result.faults << "a program ended during the run";
            break;
        }
    }
    result.finished = ended == links;
    result.wallMs = clock.elapsed();

    // ---- the outcome: files, results logs, queues
    const int expectedServerRecords = 2 * options.files * links;
    if (result.finished) server.waitLog("server.log", expectedServerRecords, 20000);
    for (int i = 0; i < links; ++i) {
        LinkSetup& setup = setups[size_t(i)];
        LoadLink& link = result.links[i];
        QStringList upNames, downNames;
        for (int j = 0; j < options.files; ++j) {
            upNames << fileName(i, true, j);
            downNames << fileName(i, false, j);
        }
        checkFolder(setup.inbox, upNames, setup.up, "server inbox of " + userName(i),
                    &link.filesUp, &link.bytesUp, &link.faults);
        checkFolder(setup.client->inbox(), downNames, setup.down, "client inbox",
                    &link.filesDown, &link.bytesDown, &link.faults);
        checkClientLog(*setup.client, upNames, downNames, &link.faults);
        if (!WaitUntil([&]() { return setup.client->jobs().isEmpty(); }, 5000))
            link.faults << QString("%1 jobs left in the client's queue")
                               .arg(setup.client->jobs().size());
    }
    const QList<TLogRecord> serverLog = server.log("server.log");
    if (serverLog.size() != expectedServerRecords)
        result.faults << QString("server.log: %1 records, %2 expected")
                             .arg(serverLog.size())
                             .arg(expectedServerRecords);
    for (const TLogRecord& r : serverLog) {
        if (!r.Done) result.faults << "server.log: " + r.FileName + " not done: " + r.Result;
        // "L3-..." belongs to USER3.
        const QString owner = "USER" + r.FileName.section('-', 0, 0).mid(1);
        if (r.UserName != owner)
            result.faults << "server.log: " + r.FileName + " logged for " + r.UserName;
    }
    if (!WaitUntil([&]() { return server.jobs().isEmpty(); }, 5000))
        result.faults << QString("%1 jobs left in the server's queue").arg(server.jobs().size());

    // ---- stop everything; the server writes its final stall figures as it ends
    result.serverCpuSeconds = processorSeconds(serverProgram.pid());
    for (LinkSetup& link : setups)
        link.program->stop();
    if (!serverProgram.stop()) result.faults << "the server did not end by itself";
    result.stallRead = TStallProbe::Read(stallFile, &result.stall);
    if (!result.stallRead) result.faults << "no stall figures from the server";
    if (!result.ok()) {
        result.transcripts = "--- server\n" + serverProgram.output().right(20000);
        for (int i = 0; i < links; ++i)
            if (!result.links[i].faults.isEmpty() || !result.finished)
                result.transcripts += QString("--- client %1\n").arg(i + 1) +
                                      setups[size_t(i)].program->output().right(8000);
    }
    for (LinkSetup& link : setups)
        link.cable->stop();
    return result;
}

} // namespace e2e
