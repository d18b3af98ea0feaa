#include "gui/server_view.h"

#include "gui/list_view.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

TfraServerView::TfraServerView(TfraServer& server, QWidget* parent)
    : TConsoleView(server, QStringLiteral("fraServer1"), QStringLiteral("popHstQuit"), parent) {
    auto* page = new QWidget;
    lvOper = new TListView(new TOperationsModel(server), QStringLiteral("lvOper"), page);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(lvOper, 2);
    layout->addWidget(makeDetail(page), 3);
    insertFirstPage(page, QStringLiteral("TabSheet1"), QStringLiteral("Communication"));
}
