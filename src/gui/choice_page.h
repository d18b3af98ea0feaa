#pragma once
// TfraChoice: the first start's page, where the operator chooses the role of this computer.
#include "core/settings.h"

#include <QWidget>

class IMainShell;
class QPlainTextEdit;
class QRadioButton;

class TfraChoice : public QWidget {
    Q_OBJECT
public:
    TfraChoice(IMainShell& shell, TRole role, QWidget* parent = nullptr);

    // Selects the radio item of the role; none for RoleNone.
    void Initialize(TRole role);
    // The selected role; RoleNone while none is selected.
    TRole selectedRole() const;
    // The description of a role as the page shows it.
    static QString Description(TRole role);

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
