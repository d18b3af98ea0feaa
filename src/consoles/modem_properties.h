#pragma once
// "Modem Parameters" without its window: edits the command strings and choices of the modem
// configuration at the given catalogue's CurrentIndex, on a private copy of the catalogue that
// goes back to the given one only on OK.
#include "serial/modems.h"

#include <QString>

class IPrompt;

// What the window shows, one member per control.
struct TModemFields {
    QString name = QStringLiteral("Generic Modem"); // edMdmDesc
    QString dialString;                             // edDialString
    QString dialPrefix;                             // edDialPrefixNo
    QString init;                                   // edInit
    QString hangup;                                 // edHangup
    QString reset;                                  // edReset
    QString autoAnswerOn;                           // edAAOn
    QString autoAnswerOff;                          // edAAOff
    QString speakerOn;                              // edSpkON
    QString speakerOff;                             // edSpkOff
    bool blind = false;                             // ckBlind
    bool errorCorrection = false;                   // ckECC
    bool compression = false;                       // ckCompr
    bool speaker = false;                           // ckEnableSpk
    int autoAnswerMode = 0;                         // rgAA: 0 default, 1 hardware, 2 software
};

class TModemProperties {
public:
    // `given`'s CurrentIndex designates the entry to edit; the role comes from `settings`.
    TModemProperties(TModemsList& given, const TSettings& settings, IPrompt& prompt);
    TModemProperties(const TModemProperties&) = delete;
    TModemProperties& operator=(const TModemProperties&) = delete;

    // The dial panel (dial string, dial prefix, blind dialing) is shown in the client role only,
    // the auto-answer choice in the server role only.
    bool dialVisible() const { return mSettings.IsClient(); }
    bool autoAnswerVisible() const { return mSettings.IsServer(); }

    // Each check box can be used only when the modem supports what it switches.
    bool blindEnabled = false;
    bool errorCorrectionEnabled = false;
    bool compressionEnabled = false;
    bool speakerEnabled = false;

    TModemFields fields;

    // FormShow: copies the given catalogue and fills the fields from its current entry.
    void Show();
    // Fills the fields from the current entry of the working copy (again after detection).
    void Fill();
    // The working copy ("Detected Modems" replaces its current entry).
    TModemsList& Working() { return mWorking; }

    // btOkClick: the checks in order; the first that fails shows its error box and returns
    // false. On success the working copy goes back to the given catalogue and it returns true.
    // Without a current entry nothing happens (false, no box).
    bool Ok();

private:
    bool fail(const QString& text);

    TModemsList& mGiven;
    const TSettings& mSettings;
    IPrompt& mPrompt;
    TModemsList mWorking;
};
