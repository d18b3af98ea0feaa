#pragma once
// A report-style list over one of the consoles' list models: whole rows, one at a time, read-only,
// the columns at the widths their model gives (wider where the caption needs it), sorted by
// clicking a header (by the model's sort values, through a proxy; a model that sorts itself, the
// results log's, is shown as it is). Rows are named to the outside by their row in the console's
// list (the source row), whatever the order shown.
#include "consoles/list_models.h"

#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QTreeView>

class TListView : public QTreeView {
    Q_OBJECT
public:
    // Shows `model` (which it takes as a child when the model has no parent yet).
    TListView(TListModel* model, const QString& name, QWidget* parent = nullptr);

    TListModel* listModel() const { return mModel; }
    // The proxy that sorts the model; none when the model sorts itself.
    QSortFilterProxyModel* proxy() const { return mProxy; }
    // The selected row of the model, -1 for none.
    int selectedSourceRow() const;
    // Selects a row of the model and makes it current (-1 selects none).
    void selectSourceRow(int row);
    // Keeps the selection in its active colours while the list has no focus.
    void setSelectionAlwaysVisible();
    // The width a column of `header` needs to show `caption` uncut.
    static int CaptionWidth(const QHeaderView* header, const QString& caption);

Q_SIGNALS:
    // A key went down in the list (Qt::Key values).
    void keyPressed(int key);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    TListModel* mModel;
    QSortFilterProxyModel* mProxy = nullptr;
};
