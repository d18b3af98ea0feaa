#include "gui/server_view.h"

#include "gui/enqueue_dialogs.h"
#include "gui/list_view.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QVBoxLayout>

TfraServerView::TfraServerView(TfraServer& server, QWidget* parent)
    : TConsoleView(server, QStringLiteral("fraServer1"), QStringLiteral("popHstQuit"), parent) {
    auto* page = new QWidget;
    lvOper = new TListView(new TOperationsModel(server), QStringLiteral("lvOper"), page);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(lvOper, 2);
    layout->addWidget(makeDetail(page), 3);
    insertFirstPage(page, QStringLiteral("TabSheet1"), QStringLiteral("Communication"));

    // "Add..." completes the prepared job in the server's enqueue dialog, over this window.
    const QPointer<QWidget> view(this);
    server.setEnqueueDialog([view, &server](TQueueItem& job) {
        return view && TfrmHstEnq::Execute(server.services(), job, view->window());
    });
}
