#include "gui/list_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPalette>
#include <QStyle>

TListView::TListView(TListModel* model, const QString& name, QWidget* parent)
    : QTreeView(parent), mModel(model) {
    setObjectName(name);
    if (!model->parent()) model->setParent(this);
    if (model->sortsItself()) {
        setModel(model);
    } else {
        mProxy = new QSortFilterProxyModel(this);
        mProxy->setSourceModel(model);
        mProxy->setSortRole(TListModel::SortRole);
        mProxy->setSortCaseSensitivity(Qt::CaseInsensitive);
        mProxy->setDynamicSortFilter(true);
        setModel(mProxy);
    }

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
    // A column is never narrower than its caption ("Attempt" would read "Attem" at its width).
    for (int c = 0; c < model->columnCount(); ++c)
        columns->resizeSection(
            c, qMax(model->headerData(c, Qt::Horizontal, TListModel::WidthRole).toInt(),
                    CaptionWidth(columns, model->headerData(c, Qt::Horizontal).toString())));
    // The console's order until the operator clicks a header.
    columns->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
}

int TListView::CaptionWidth(const QHeaderView* header, const QString& caption) {
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    return header->fontMetrics().horizontalAdvance(caption) + 2 * margin + 2;
}

int TListView::selectedSourceRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty()) return -1;
    return mProxy ? mProxy->mapToSource(rows.first()).row() : mModel->sourceRow(rows.first().row());
}

void TListView::selectSourceRow(int row) {
    const QModelIndex index = mProxy ? mProxy->mapFromSource(mModel->index(row, 0))
                                     : mModel->index(mModel->shownRow(row), 0);
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
