#include "consoles/modem_detection.h"

#include "core/status.h"
#include "platform/prompt.h"

#include <QCoreApplication>
#include <QThread>

TModemDetection::TModemDetection(const TSettings& settings, const TComInfo& source, QObject* parent)
    : QObject(parent), mSettings(settings), mSource(source) {}

TModemDetection::~TModemDetection() {
    if (mThread) mThread->wait();
}

bool TModemDetection::IsRunning() const {
    return mThread && !mThread->isFinished();
}

void TModemDetection::Start() {
    if (mThread) return;
    mThread = QThread::create([this] { run(); });
    mThread->setParent(this);
    // Emitted on the main thread once the worker has ended, so Found() is complete by then.
    connect(mThread, &QThread::finished, this, [this] { Q_EMIT Finished(); });
    // A program that ends meanwhile lets the worker finish first: it may still be writing to a
    // device it has opened.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, mThread,
                [thread = mThread] { thread->wait(); });
    mThread->start();
}

void TModemDetection::Abandon() {
    disconnect(this, &TModemDetection::StatusLine, nullptr, nullptr);
    disconnect(this, &TModemDetection::Finished, nullptr, nullptr);
    setParent(nullptr); // a parent going away must not wait for the worker
    if (!IsRunning()) {
        deleteLater();
        return;
    }
    connect(mThread, &QThread::finished, this, &QObject::deleteLater);
    // It may have ended between the two looks (a second deleteLater does no harm).
    if (mThread->isFinished()) deleteLater();
}

void TModemDetection::run() {
    // The worker's own sink keeps nothing: it hands each line to the main thread.
    THeadlessPrompt prompt;
    TStatusSink sink(mSettings, prompt);
    sink.SetRelay([this](const QString& message) { Q_EMIT StatusLine(message); });
    TModemsList found(mSettings, sink);
    found.Detect(mSource);
    for (int i = 0; i < found.Count(); ++i)
        if (const TModemSettings* entry = found.GetModem(i)) mFound.push_back(*entry);
}
