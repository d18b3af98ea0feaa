#pragma once
// The server console's view (fraServer1): the engines at work and the session text on the first
// page, then the queue and the results log.
#include "consoles/server_console.h"
#include "gui/console_view.h"

class TfraServerView : public TConsoleView {
    Q_OBJECT
public:
    explicit TfraServerView(TfraServer& server, QWidget* parent = nullptr);

    TListView* operationsList() const { return lvOper; }

private:
    TListView* lvOper = nullptr;
};
