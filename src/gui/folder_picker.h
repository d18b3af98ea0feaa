#pragma once
// TfrmSelFold: the folder picker. A tree of folders under the volume chosen in the selector of
// mounted volumes (drv), the current folder shown above it (lbdir).
#include <QDialog>
#include <QString>

class QComboBox;
class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;

class TfrmSelFold : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSelFold(QWidget* parent = nullptr);

    // The folder the tree shows as current; setting one that does not exist keeps the current.
    QString folder() const { return mFolder; }
    void setFolder(const QString& path);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void volumeChosen(int index);
    void showFolder(const QString& path);
    // Opens the tree down to the current folder, selects it and scrolls it into view.
    void revealFolder();
    // The current folder in lbdir, shortened in the middle when it is wider than the window.
    void showLabel();

    QString mFolder;
    QLabel* mLabel;
    QTreeView* mTree;
    QComboBox* mVolumes;
    QFileSystemModel* mModel;
};
