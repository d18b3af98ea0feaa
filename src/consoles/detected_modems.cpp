#include "consoles/detected_modems.h"

#include "consoles/modem_detection.h"
#include "core/settings.h"
#include "core/status.h"
#include "platform/prompt.h"

TDetectedModems::TDetectedModems(TModemsList& given, IPrompt& prompt, QObject* parent)
    : QObject(parent), mGiven(given), mPrompt(prompt), mWorking(given.Settings(), given.Status()),
      mDetected(given.Settings(), given.Status()) {}

TDetectedModems::~TDetectedModems() {
    if (mDetection) mDetection->Abandon();
}

void TDetectedModems::Show() {
    mWorking.CopyFrom(&mGiven);
    mDetected.Clear();
    mSelected = -1;
    if (mDetection) mDetection->Abandon();
    auto* detection = new TModemDetection(mGiven.Settings(), Source, this);
    mDetection = detection;
    TStatusSink& status = mGiven.Status();
    connect(detection, &TModemDetection::StatusLine, this, [this, &status](const QString& line) {
        status.Add(line);
        Q_EMIT Progress(line);
    });
    connect(detection, &TModemDetection::Finished, this, &TDetectedModems::detectionEnded);
    detection->Start();
}

void TDetectedModems::detectionEnded() {
    if (!mDetection) return;
    const std::vector<TModemSettings>& found = mDetection->Found();
    for (size_t i = 0; i < found.size(); ++i)
        mDetected.SetModem(int(i), &found[i]);
    mDetection->deleteLater();
    mDetection.clear();
    mSelected = mDetected.Count() > 0 ? 0 : -1;
    Q_EMIT DetectionFinished();
    Q_EMIT SelectionChanged();
}

void TDetectedModems::Select(int row) {
    mSelected = row >= 0 && row < mDetected.Count() ? row : -1;
    Q_EMIT SelectionChanged();
}

QList<QPair<QString, QString>> TDetectedModems::Details() {
    QList<QPair<QString, QString>> rows;
    if (mSelected < 0) return rows;
    const TModemSettings* modem = mDetected.GetModem(mSelected);
    if (!modem) return rows;
    for (int k = 0; k < ModemKeyCount; ++k) {
        const QString caption = QString::fromLatin1(ModemKeyCaptions[k]);
        if (caption.startsWith('-')) continue;
        rows.append({caption, modem->Get(TModemKey(k))});
    }
    return rows;
}

bool TDetectedModems::SelectClicked() {
    const TModemSettings* modem = mDetected.GetModem(mSelected);
    if (!modem) return false;
    const QString name = modem->Get(mdkFriendlyName);
    for (int i = 0; i < mWorking.Count(); ++i) {
        if (i == mWorking.CurrentIndex) continue;
        if (mWorking.GetSetting(i, mdkFriendlyName) == name) {
            mPrompt.MessageBox(
                QStringLiteral("This modem was previously added to the list of available modems!"),
                QString::fromLatin1(ApplicationTitle), TBoxIcon::Error, TBoxButtons::Ok);
            return false;
        }
    }
    if (!mWorking.GetModem(mWorking.CurrentIndex)) {
        mWorking.AddModem();
        mWorking.CurrentIndex = mWorking.Count() - 1;
    }
    mWorking.SetModem(mWorking.CurrentIndex, modem);
    mGiven.CopyFrom(&mWorking);
    return true;
}
