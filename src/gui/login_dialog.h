#pragma once
// TfrmLogin: asks for the access password before the window comes back from the tray.
#include <QDialog>
#include <QString>

class IPrompt;
class QLineEdit;

class TfrmLogin : public QDialog {
    Q_OBJECT
public:
    // `scrambledPassword`: the stored access password (scrambled as the settings keep it).
    TfrmLogin(const QString& scrambledPassword, IPrompt& prompt, QWidget* parent = nullptr);

    QLineEdit* passwordEdit() const { return mPassword; }

protected:
    // The window brings itself to the front and takes the focus whenever it is shown or resized.
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void okClicked();
    void takeFocus();

    QString mScrambled;
    IPrompt& mPrompt;
    QLineEdit* mPassword;
};
