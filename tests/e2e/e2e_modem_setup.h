#pragma once
// A client and a server home that reach each other through simulated Hayes modems (`linesim
// modems`): each home has one modem configuration ("MODEM1") and one modem device on COM1
// (client) or COM2 (server); the client's jobs carry the server modem's number.
#include "e2e_harness.h"

#include "core/inifile.h"
#include "serial/modems.h"

#include <QDir>
#include <QFileInfo>

namespace e2e {

inline const QString ClientNumber = QStringLiteral("5551000");
inline const QString ServerNumber = QStringLiteral("5552000");
inline const QString ThirdNumber = QStringLiteral("5553000");

// Writes a complete modem configuration as entry 1 of the home's modem catalogue and makes the
// home's first device a modem on COM<port> that uses it.
inline void MakeModemHome(Home& home, int port, const QString& guid, const QString& aaMode) {
    TIniFile ini(home.iniPath());
    ini.WriteInteger("GENERAL", "MRL_Modems", 1);
    QMap<TModemKey, QString> values{
        {mdkManufacturer, "linesim"},
        {mdkFriendlyName, "Virtual Hayes modem"},
        {mdkModel, "Virtual Hayes modem"},
        {mdkAttachedTo, QString("COM%1").arg(port)},
        {mdkDialString, "ATDT"},
        {mdkAnswerString, "ATA"},
        {mdkMonitorOn, "ATS0=1"},
        {mdkMonitorOff, "ATS0=0"},
        {mdkCommandPrefix, "AT"},
        {mdkCommandTerminator, "<cr>"},
        {mdkCommandReset, "ATZ"},
        {mdkSelectPulseDialing, "P"},
        {mdkSelectToneDialing, "T"},
        // A short guard time (S12 in 1/50 s) so that the escape of the hang-up string works
        // soon after the last data.
        {mdkHangupString, "+++~~~ATH0"},
        {mdkDefaultInitialization, "AT&FE1V1X4S12=10"},
        {mdkSupportsBlindDialing, "NO"},
        {mdkSupportsDataCompression, "NO"},
        {mdkSupportsSpeakerControl, "YES"},
        {mdkOnDuringDialing, "M1"},
        {mdkOnDuringAnswer, "M1"},
        {mdkSpeakerOff, "M0"},
        {mdkSpeakerOn, "M2"},
        {mdkSupportsVolumeControl, "NO"},
        {mdkSupportsErrorControl, "NO"},
        {mdkSupportsFlowControl, "YES"},
        {mdkHardwareFlowControl, "AT&K3"},
        {mdkSupportsSpeedNegotiation, "NO"},
        {mdkSupportsCallFailTimer, "NO"},
        {mdkSupportsInactivityTimeout, "NO"},
        {mdkUseBlindDialing, "NO"},
        {mdkUseCompression, "NO"},
        {mdkUseECC, "NO"},
        {mdkSpkEnabled, "NO"},
        {mdkAAMode, aaMode},
        {mdkCommandSpeakerOn, "ATM2"},
        {mdkCommandSpeakerOff, "ATM0"},
        {mdkGUID, guid},
    };
    for (int k = 0; k < ModemKeyCount; ++k)
        ini.WriteString("MODEM1", ModemKeyNames[k], values.value(TModemKey(k)));

    const QString com = QString("COM%1").arg(port);
    ini.WriteString("DEVICE1", "dvkDevType", "Modem");
    ini.WriteString("DEVICE1", "dvkDevName", "Modem on " + com);
    ini.WriteString("DEVICE1", "dvkDevGUID", guid);
    ini.WriteString("DEVICE1", "dvkDevParam", com + ",57600");
    if (home.get("GENERAL", "MRL_Function") == "1")
        ini.WriteString("CLIENT", "CLI_ActiveDevice", guid);
    ini.UpdateFile();
}

// Client (COM1, number ClientNumber) and server (COM2, ServerNumber) homes with modem devices,
// a server user ALICE, and linesim's exchange between them; programs are started on demand.
class ModemPair {
public:
    explicit ModemPair(const QString& serverAAMode, const QMap<QString, QString>& programEnv)
        : env(programEnv) {
        if (qEnvironmentVariableIsSet("MARROWLINE_E2E_KEEP")) {
            root.setAutoRemove(false);
            qInfo().noquote() << "kept:" << root.path();
        }
        client = std::make_unique<Home>(root.path(), "client");
        server = std::make_unique<Home>(root.path(), "server");
        client->makeClient(1);
        server->makeServer({2});
        server->addUser("ALICE", "secret");
        MakeModemHome(*client, 1, "{5EC0A001-0000-4000-8000-00000000C11E}", "0");
        MakeModemHome(*server, 2, "{5EC0A002-0000-4000-8000-000000005E7E}", serverAAMode);
    }
    ~ModemPair() {
        clientProgram.reset();
        serverProgram.reset();
        if (exchange) exchange->stop();
    }

    // linesim's exchange with the two modems (and any given with --modem in `options`).
    bool startExchange(const QStringList& options) {
        QStringList all{"--ring-interval-ms", "300", "--trace", "0"};
        all << options;
        exchange = std::make_unique<LineSim>(
            "modems", all, client->portLink(1) + "=" + ClientNumber,
            server->portLink(2) + "=" + ServerNumber + serverModemSettings,
            root.path() + "/linesim.log");
        return exchange->ready();
    }
    // Starts the server and waits until its modem is initialised (and, with auto-answer, told
    // to answer) and so ready for a call.
    bool startServer() {
        serverProgram = std::make_unique<Program>(*server, QStringList{}, env);
        if (!serverProgram->waitFor("Modem initialized.", 20000)) return false;
        if (server->get("MODEM1", "mdkAAMode") != "1") return true;
        return WaitUntil(
            [&]() { return logCount("modem " + ServerNumber + " got \"ATS0=1\"") > 0; },
            Scaled(10000));
    }
    bool startClient() {
        clientProgram = std::make_unique<Program>(*client, QStringList{}, env);
        // A second start made before the client holds its instance lock would become the first
        // instance itself.
        return clientProgram->waitFor("Application started.", 15000);
    }
    // Queues a client job through a second start; the fourth argument is the number to dial.
    QString queue(const QString& relative, const QString& number = ServerNumber) {
        return RunOnce(*client, {client->outbox() + relative, "ALICE", "secret", number});
    }
    QString queueHost(const QString& relative) {
        return RunOnce(*server, {server->outbox() + relative, "ALICE"});
    }
    // Lines of linesim's log that contain the text.
    int logCount(const QString& text) const {
        return exchange ? int(exchange->log().count(text)) : 0;
    }
    QString transcripts() const {
        QString out;
        if (clientProgram) out += "--- client\n" + clientProgram->output().right(15000);
        if (serverProgram) out += "--- server\n" + serverProgram->output().right(15000);
        if (exchange) out += "--- linesim\n" + exchange->log().right(15000);
        return out;
    }

    QTemporaryDir root;
    QMap<QString, QString> env;
    // linesim settings of the server's modem (",silent"...), set before startExchange.
    QString serverModemSettings;
    std::unique_ptr<Home> client, server;
    std::unique_ptr<LineSim> exchange;
    std::unique_ptr<Program> clientProgram, serverProgram;
};

} // namespace e2e
