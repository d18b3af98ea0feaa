#include "gui/client_view.h"

#include "gui/enqueue_dialogs.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QVBoxLayout>

namespace {
// A session field of the first page: its control's name, its caption and the client's text it
// shows.
struct TSessionField {
    const char* name;
    const char* caption;
    const QString& (TfraClient::*text)() const;
};
const TSessionField SessionFields[] = {
    {"edStat", "Status:", &TfraClient::status},  {"edAttempt", "Attempt:", &TfraClient::attempt},
    {"edHost", "Server:", &TfraClient::host},    {"edJob", "File #:", &TfraClient::job},
    {"edFile", "File name:", &TfraClient::file},
};
} // namespace

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
    for (const TSessionField& field : SessionFields) {
        auto* edit = new QLineEdit(session);
        edit->setObjectName(QString::fromLatin1(field.name));
        edit->setReadOnly(true);
        mSessionEdits << edit;
    }
    prb = new QProgressBar(session);
    prb->setObjectName(QStringLiteral("prb"));
    // The gauge offers the same menu as the frame.
    prb->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(prb, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { popUpMenu(prb->mapToGlobal(pos)); });
    for (int i = 0; i < mSessionEdits.size(); ++i)
        addField(QString::fromLatin1(SessionFields[i].caption), mSessionEdits[i]);
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
    for (int i = 0; i < mSessionEdits.size(); ++i)
        mSessionEdits[i]->setText((mClient->*SessionFields[i].text)());
    prb->setRange(0, mClient->progressMax());
    prb->setValue(mClient->progress());
}
