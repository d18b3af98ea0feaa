#include "gui/folder_picker.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeView>
#include <QVBoxLayout>

TfrmSelFold::TfrmSelFold(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmSelFold"));
    setWindowTitle(QStringLiteral("Select Folder"));
    setFixedSize(324, 255);
    // The folders are read in the background: once the one holding the current folder is
    // read, the current folder can be scrolled into view.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);

    mLabel = new QLabel(this);
    mLabel->setObjectName(QStringLiteral("lbdir"));
    mLabel->setTextFormat(Qt::PlainText);
    // A long folder is shortened to the window's width (showLabel), never widens it.
    mLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(mLabel);

    mModel = new QFileSystemModel(this);
    mModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    mModel->setRootPath(QStringLiteral("/"));
    connect(mModel, &QFileSystemModel::directoryLoaded, this, [this](const QString& loaded) {
        if (mFolder == loaded || mFolder.startsWith(loaded.endsWith('/') ? loaded : loaded + '/'))
            revealFolder();
    });
    mTree = new QTreeView(this);
    mTree->setObjectName(QStringLiteral("dir"));
    mTree->setModel(mModel);
    mTree->setHeaderHidden(true);
    for (int column = 1; column < mModel->columnCount(); ++column) mTree->hideColumn(column);
    layout->addWidget(mTree, 1);
    connect(mTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) showFolder(mModel->filePath(current));
            });

    auto* bottom = new QHBoxLayout;
    // Mounted volumes stand where drive letters stood.
    mVolumes = new QComboBox(this);
    mVolumes->setObjectName(QStringLiteral("drv"));
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady()) continue;
        const QString root = volume.rootPath();
        mVolumes->addItem(volume.name().isEmpty() ? root : root + " [" + volume.name() + "]",
                          root);
    }
    // Long mount points do not widen the window.
    mVolumes->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    mVolumes->setMinimumContentsLength(8);
    bottom->addWidget(mVolumes, 1);
    connect(mVolumes, &QComboBox::activated, this, &TfrmSelFold::volumeChosen);

    auto* select = new QPushButton(QStringLiteral("&Select"), this);
    select->setObjectName(QStringLiteral("btSel"));
    select->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("btCancel"));
    bottom->addWidget(select);
    bottom->addWidget(cancel);
    layout->addLayout(bottom);
    connect(select, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    setFolder(QDir::homePath());
    // 324 x 255, or larger where a large font needs it.
    setFixedSize(size().expandedTo(sizeHint()));
}

void TfrmSelFold::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    showLabel();
}

void TfrmSelFold::showLabel() {
    mLabel->setText(
        mLabel->fontMetrics().elidedText(mFolder, Qt::ElideMiddle, mLabel->contentsRect().width()));
    mLabel->setToolTip(mFolder);
}

void TfrmSelFold::revealFolder() {
    const QModelIndex index = mModel->index(mFolder);
    if (!index.isValid()) return;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        mTree->expand(parent);
    if (mTree->currentIndex() != index) mTree->setCurrentIndex(index);
    mTree->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void TfrmSelFold::setFolder(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir()) return;
    showFolder(info.absoluteFilePath());
}

void TfrmSelFold::showFolder(const QString& path) {
    mFolder = QDir::cleanPath(path);
    showLabel();
    revealFolder();
    // The selector shows the volume that holds the folder: the longest mount point in front.
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < mVolumes->count(); ++i) {
        const QString root = mVolumes->itemData(i).toString();
        const bool holds = mFolder == root || mFolder.startsWith(root.endsWith('/') ? root : root + '/');
        if (holds && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    if (best >= 0) mVolumes->setCurrentIndex(best);
}

void TfrmSelFold::volumeChosen(int index) {
    const QString root = mVolumes->itemData(index).toString();
    if (QFileInfo(root).isDir()) showFolder(root);
}
