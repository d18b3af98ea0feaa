#pragma once
// A linesim process for tests that need simulated lines or modems (LINESIM_BIN); it is stopped,
// and its links removed, on destruction.
#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

class TLinesim {
public:
    ~TLinesim() {
        if (mProcess.state() == QProcess::NotRunning) return;
        mProcess.terminate();
        if (!mProcess.waitForFinished(5000)) mProcess.kill();
        mProcess.waitForFinished(2000);
    }
    // Starts it with the arguments and waits for its "ready" line.
    bool Start(const QStringList& args) {
        mProcess.setProgram(qEnvironmentVariable("LINESIM_BIN", "linesim"));
        mProcess.setArguments(args);
        mProcess.setStandardErrorFile(QProcess::nullDevice());
        mProcess.start();
        if (!mProcess.waitForStarted(5000)) return false;
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (!out.contains('\n') && timer.elapsed() < 10000 &&
               mProcess.state() == QProcess::Running) {
            mProcess.waitForReadyRead(100);
            out += mProcess.readAllStandardOutput();
        }
        return out.startsWith("ready");
    }

private:
    QProcess mProcess;
};

