#pragma once
// TfraChoice: the first start's page, where the operator chooses the role of this computer.
#include <QWidget>

class IMainShell;
class QPlainTextEdit;
class QRadioButton;

class TfraChoice : public QWidget {
    Q_OBJECT
public:
    TfraChoice(IMainShell& shell, int role, QWidget* parent = nullptr);

    // Selects the radio item of the role (1 client, 2 server); none for any other.
    void Initialize(int role);
    // The selected role: 1, 2, or 0 for none.
    int selectedRole() const;
    // The description of a role as the page shows it.
    static QString Description(int role);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void roleClicked();
    void okClicked();

    IMainShell& mShell;
    QRadioButton* mClient;
    QRadioButton* mServer;
    QPlainTextEdit* mDescription;
};
