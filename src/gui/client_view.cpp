#include "gui/client_view.h"

#include "gui/enqueue_dialogs.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QVBoxLayout>

TfraClientView::TfraClientView(TfraClient& client, QWidget* parent)
    : TConsoleView(client, QStringLiteral("fraClient1"), QStringLiteral("popRemQuit"), parent),
      mClient(&client) {
    auto* page = new QWidget;
    auto* session = new QGroupBox(QStringLiteral(" Session: "), page);
    session->setObjectName(QStringLiteral("GroupBox1"));
    auto* fields = new QGridLayout(session);
    int rows = 0;
    auto addField = [&](const QString& caption, QWidget* field) {
        auto* label = new QLabel(caption, session);
        label->setBuddy(field);
        fields->addWidget(label, rows, 0);
        fields->addWidget(field, rows, 1);
        ++rows;
    };
    auto edit = [&](const char* name) {
        auto* e = new QLineEdit(session);
        e->setObjectName(QString::fromLatin1(name));
        e->setReadOnly(true);
        return e;
    };
    edStat = edit("edStat");
    edAttempt = edit("edAttempt");
    edHost = edit("edHost");
    edJob = edit("edJob");
    edFile = edit("edFile");
    prb = new QProgressBar(session);
    prb->setObjectName(QStringLiteral("prb"));
    // The gauge offers the same menu as the frame.
    prb->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(prb, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { popUpMenu(prb->mapToGlobal(pos)); });
    addField(QStringLiteral("Status:"), edStat);
    addField(QStringLiteral("Attempt:"), edAttempt);
    addField(QStringLiteral("Server:"), edHost);
    addField(QStringLiteral("File #:"), edJob);
    addField(QStringLiteral("File name:"), edFile);
    addField(QStringLiteral("Progress:"), prb);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(session);
    layout->addWidget(makeDetail(page), 1);
    insertFirstPage(page, QStringLiteral("tabComm"), QStringLiteral("Communications"));

    connect(&client, &TfraClient::sessionChanged, this, &TfraClientView::followSession);
    followSession();

    // "Add..." completes the prepared job in the client's enqueue dialog, over this window.
    const QPointer<QWidget> view(this);
    client.setEnqueueDialog([view, &client](TQueueItem& job) {
        return view && TfrmRemEnq::Execute(client.services(), job, view->window());
    });
}

void TfraClientView::followSession() {
    if (!mClient) return;
    edStat->setText(mClient->status());
    edAttempt->setText(mClient->attempt());
    edHost->setText(mClient->host());
    edJob->setText(mClient->job());
    edFile->setText(mClient->file());
    prb->setRange(0, mClient->progressMax());
    prb->setValue(mClient->progress());
}
