#include "gui/list_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPalette>

TListView::TListView(TListModel* model, const QString& name, QWidget* parent)
    : QTreeView(parent), mModel(model), mProxy(new QSortFilterProxyModel(this)) {
    setObjectName(name);
    if (!model->parent()) model->setParent(this);
    mProxy->setSourceModel(model);
    mProxy->setSortRole(TListModel::SortRole);
    mProxy->setSortCaseSensitivity(Qt::CaseInsensitive);
    mProxy->setDynamicSortFilter(true);
    setModel(mProxy);

    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);

    QHeaderView* columns = header();
    columns->setStretchLastSection(false);
    columns->setSectionsMovable(false);
    for (int c = 0; c < model->columnCount(); ++c)
        columns->resizeSection(c,
                               model->headerData(c, Qt::Horizontal, TListModel::WidthRole).toInt());
    // The console's order until the operator clicks a header.
    columns->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
}

int TListView::selectedSourceRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : mProxy->mapToSource(rows.first()).row();
}

void TListView::selectSourceRow(int row) {
    const QModelIndex index = mProxy->mapFromSource(mModel->index(row, 0));
    if (!index.isValid()) {
        selectionModel()->clearSelection();
        return;
    }
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

void TListView::setSelectionAlwaysVisible() {
    QPalette colours = palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    setPalette(colours);
}

void TListView::keyPressEvent(QKeyEvent* event) {
    Q_EMIT keyPressed(event->key());
    QTreeView::keyPressEvent(event);
}
