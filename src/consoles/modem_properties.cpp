#include "consoles/modem_properties.h"

#include "core/settings.h"
#include "platform/prompt.h"

namespace {
QString yesNo(bool value) {
    return value ? QStringLiteral("YES") : QStringLiteral("NO");
}
} // namespace

TModemProperties::TModemProperties(TModemsList& given, const TSettings& settings, IPrompt& prompt)
    : mGiven(given), mSettings(settings), mPrompt(prompt),
      mWorking(given.Settings(), given.Status()) {}

void TModemProperties::Show() {
    mWorking.CopyFrom(&mGiven);
    Fill();
}

void TModemProperties::Fill() {
    const int index = mWorking.CurrentIndex;
    if (!mWorking.GetModem(index)) return; // nothing to edit: the form keeps its defaults
    const auto get = [&](TModemKey key) { return mWorking.GetSetting(index, key); };
    const auto yes = [&](TModemKey key) { return get(key) == QLatin1String("YES"); };
    fields.name = get(mdkFriendlyName);
    fields.dialString = get(mdkDialString);
    fields.dialPrefix = get(mdkDialPrefixNo);
    fields.init = get(mdkDefaultInitialization);
    fields.hangup = get(mdkHangupString);
    fields.reset = get(mdkCommandReset);
    fields.autoAnswerOn = get(mdkMonitorOn);
    fields.autoAnswerOff = get(mdkMonitorOff);
    fields.speakerOn = get(mdkCommandSpeakerOn);
    fields.speakerOff = get(mdkCommandSpeakerOff);

    // A choice the modem does not support stays off, whatever the entry says.
    blindEnabled = yes(mdkSupportsBlindDialing);
    errorCorrectionEnabled = yes(mdkSupportsErrorControl);
    compressionEnabled = yes(mdkSupportsDataCompression);
    speakerEnabled = yes(mdkSupportsSpeakerControl);
    fields.blind = blindEnabled && yes(mdkUseBlindDialing);
    fields.errorCorrection = errorCorrectionEnabled && yes(mdkUseECC);
    fields.compression = compressionEnabled && yes(mdkUseCompression);
    fields.speaker = speakerEnabled && yes(mdkSpkEnabled);

    if (autoAnswerVisible()) {
        bool ok = false;
        const int mode = get(mdkAAMode).toInt(&ok);
        if (ok && mode >= 0 && mode <= 2) fields.autoAnswerMode = mode;
    }
}

bool TModemProperties::fail(const QString& text) {
    mPrompt.MessageBox(text, QString::fromLatin1(ApplicationTitle), TBoxIcon::Error,
                       TBoxButtons::Ok);
    return false;
}

bool TModemProperties::Ok() {
    const int index = mWorking.CurrentIndex;
    if (!mWorking.GetModem(index)) return false;
    const auto put = [&](TModemKey key, const QString& value) {
        mWorking.PutSetting(index, key, value);
    };
    const TModemFields& f = fields;
    // A device stores its modem's name in a comma-separated list.
    if (f.name.contains(',')) return fail(QStringLiteral("Modem name must not contain commas!"));
    if (f.name.trimmed().isEmpty()) return fail(QStringLiteral("Invalid modem name!"));
    put(mdkFriendlyName, f.name);
    if (dialVisible() && f.dialString.trimmed().isEmpty())
        return fail(QStringLiteral("Invalid dial string!"));
    put(mdkDialString, f.dialString);
    put(mdkDialPrefixNo, f.dialPrefix);
    if (f.init.isEmpty()) return fail(QStringLiteral("Invalid init string!"));
    put(mdkDefaultInitialization, f.init);
    if (f.hangup.isEmpty()) return fail(QStringLiteral("Invalid hangup string!"));
    put(mdkHangupString, f.hangup);
    if (f.reset.isEmpty()) return fail(QStringLiteral("Invalid reset string!"));
    put(mdkCommandReset, f.reset);
    if (f.autoAnswerMode != 0 && f.autoAnswerOn.isEmpty())
        return fail(QStringLiteral("Invalid auto-answer ON string!"));
    put(mdkMonitorOn, f.autoAnswerOn);
    put(mdkMonitorOff, f.autoAnswerOff);
    if (f.speaker && speakerEnabled && f.speakerOn.isEmpty())
        return fail(QStringLiteral("Invalid speaker ON string!"));
    put(mdkCommandSpeakerOn, f.speakerOn);
    put(mdkCommandSpeakerOff, f.speakerOff);

    // A box that cannot be used is never checked.
    put(mdkUseBlindDialing, yesNo(f.blind && blindEnabled));
    put(mdkUseECC, yesNo(f.errorCorrection && errorCorrectionEnabled));
    put(mdkUseCompression, yesNo(f.compression && compressionEnabled));
    put(mdkAAMode, QString::number(f.autoAnswerMode));
    put(mdkSpkEnabled, yesNo(f.speaker && speakerEnabled));
    mGiven.CopyFrom(&mWorking);
    return true;
}
