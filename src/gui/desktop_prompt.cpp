#include "gui/desktop_prompt.h"

#include "core/settings.h"
#include "gui/folder_picker.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace {
QMessageBox::Icon qtIcon(TBoxIcon icon) {
    switch (icon) {
    case TBoxIcon::Information: return QMessageBox::Information;
    case TBoxIcon::Warning: return QMessageBox::Warning;
    case TBoxIcon::Error: return QMessageBox::Critical;
    case TBoxIcon::Question: return QMessageBox::Question;
    case TBoxIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

// The filters' names are shown as written; the patterns Qt matches follow them (QtFilter).
void prepareFileDialog(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::HideNameFilterDetails);
}
} // namespace

TDesktopPrompt::TDesktopPrompt(std::function<QWidget*()> parent) : mParent(std::move(parent)) {}

QWidget* TDesktopPrompt::parentWidget() const {
    // A box raised while a dialog is open belongs to that dialog: it must hold the dialog's
    // buttons, not only the main window's.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible()) return modal;
    return behindDialogs();
}

QWidget* TDesktopPrompt::behindDialogs() const {
    QWidget* parent = mParent ? mParent() : nullptr;
    // A hidden window (in the tray) cannot own a visible box.
    return parent && parent->isVisible() ? parent : nullptr;
}

TBoxResult TDesktopPrompt::MessageBox(const QString& text, const QString& caption, TBoxIcon icon,
                                      TBoxButtons buttons) {
    const QString title = caption.isEmpty() ? QString::fromLatin1(ApplicationTitle) : caption;
    // Line ends in box texts are CR LF.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    auto* box = new QMessageBox(qtIcon(icon), title, shown, QMessageBox::NoButton, parentWidget());
    switch (buttons) {
    case TBoxButtons::Ok: box->setStandardButtons(QMessageBox::Ok); break;
    case TBoxButtons::Cancel: box->setStandardButtons(QMessageBox::Cancel); break;
    case TBoxButtons::OkCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case TBoxButtons::YesNo: box->setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    }
    if (buttons == TBoxButtons::Ok || buttons == TBoxButtons::Cancel) {
        // Nothing depends on the answer: show it and go on.
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(box->parentWidget() ? Qt::WindowModal : Qt::NonModal);
        // A dialog that ends while its box is still open (a failure reported as it took its
        // answer: "Wrong password!") must not take the box with it: the box moves behind.
        if (auto* dialog = qobject_cast<QDialog*>(box->parentWidget())) {
            QObject::connect(dialog, &QDialog::finished, box, [this, box, dialog]() {
                if (box->parentWidget() != dialog || !box->isVisible()) return;
                QWidget* behind = behindDialogs();
                box->setParent(behind, box->windowFlags());
                box->setWindowModality(behind ? Qt::WindowModal : Qt::NonModal);
                box->show();
            });
        }
        box->show();
        return buttons == TBoxButtons::Ok ? TBoxResult::Ok : TBoxResult::Cancel;
    }
    const int answer = box->exec();
    delete box;
    switch (answer) {
    case QMessageBox::Ok: return TBoxResult::Ok;
    case QMessageBox::Yes: return TBoxResult::Yes;
    case QMessageBox::No: return TBoxResult::No;
    default: break;
    }
    return DefaultAnswer(buttons);
}

QString TDesktopPrompt::QtFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList filters;
    for (int i = 0; i < parts.size(); i += 2) {
        QStringList patterns = parts.value(i + 1).split(';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
        }
        if (patterns.isEmpty()) patterns << QStringLiteral("*");
        filters << parts[i] + " (" + patterns.join(' ') + ')';
    }
    return filters.join(QStringLiteral(";;"));
}

QString TDesktopPrompt::OpenFile(const QString& title, const QString& filter,
                                 const QString& initialFolder) {
    QFileDialog dialog(parentWidget(), title, initialFolder, QtFilter(filter));
    prepareFileDialog(dialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString TDesktopPrompt::SaveFile(const QString& title, const QString& filter,
                                 const QString& defaultExtension, const QString& initialFolder) {
    QFileDialog dialog(parentWidget(), title, initialFolder, QtFilter(filter));
    prepareFileDialog(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultExtension);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString TDesktopPrompt::PickFolder(const QString& initialFolder) {
    TfrmSelFold picker(parentWidget());
    picker.setFolder(initialFolder);
    if (picker.exec() != QDialog::Accepted) return {};
    return picker.folder();
}
