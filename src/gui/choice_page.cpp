#include "gui/choice_page.h"

#include "consoles/console_services.h"
#include "gui/widget_helpers.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TfraChoice::TfraChoice(IMainShell& shell, TRole role, QWidget* parent)
    : QWidget(parent), mShell(shell) {
    setObjectName(QStringLiteral("fraChoice1"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    auto* title = new QLabel(QStringLiteral("Marrowline can either act as client or as server."),
                             this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    layout->addWidget(new QLabel(
        QStringLiteral("Please select the desired Marrowline function for this computer:"), this));

    auto* group = new QGroupBox(this);
    group->setObjectName(QStringLiteral("rgChoice"));
    auto* groupLayout = new QVBoxLayout(group);
    mClient = new QRadioButton(QStringLiteral("Run as CLIENT"), group);
    mServer = new QRadioButton(QStringLiteral("Run as SERVER"), group);
    mClient->setObjectName(QStringLiteral("rbClient"));
    mServer->setObjectName(QStringLiteral("rbServer"));
    groupLayout->addWidget(mClient);
    groupLayout->addWidget(mServer);
    layout->addWidget(group);
    connect(mClient, &QRadioButton::clicked, this, &TfraChoice::roleClicked);
    connect(mServer, &QRadioButton::clicked, this, &TfraChoice::roleClicked);

    mDescription = new QPlainTextEdit(this);
    mDescription->setObjectName(QStringLiteral("mm"));
    mDescription->setReadOnly(true);
    // Two short paragraphs to read, nothing to do: Tab goes from the choice to the buttons.
    mDescription->setFocusPolicy(Qt::ClickFocus);
    layout->addWidget(mDescription, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("btOk"));
    ok->setDefault(true);
    ok->setAutoDefault(true);
    auto* close = NamedButton(QStringLiteral("btClose"), QStringLiteral("&Close"), this);
    auto* help = NamedButton(QStringLiteral("btHelp"), QStringLiteral("&Help"), this);
    buttons->addWidget(ok);
    buttons->addWidget(close);
    buttons->addWidget(help);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &TfraChoice::okClicked);
    // Close ends the program at once, without the question.
    connect(close, &QPushButton::clicked, this, [this]() { mShell.CloseApplication(false); });
    // Help has no action.

    Initialize(role);
}

QString TfraChoice::Description(TRole role) {
    if (role == RoleClient)
        return QStringLiteral("Marrowline initiates the communication with servers.\n\n"
                              "The client handles file transfers to and from server locations.");
    if (role == RoleServer)
        return QStringLiteral("Marrowline responds to communication requests initiated by "
                              "clients.\n\nThe server receives and sends files as requested by "
                              "clients.");
    return {};
}

void TfraChoice::Initialize(TRole role) {
    // An exclusive group cannot show no selection; it is made so only while items are set.
    mClient->setAutoExclusive(false);
    mServer->setAutoExclusive(false);
    mClient->setChecked(role == RoleClient);
    mServer->setChecked(role == RoleServer);
    mClient->setAutoExclusive(true);
    mServer->setAutoExclusive(true);
    mDescription->setPlainText(Description(role));
    // The window opens on the choice.
    (role == RoleServer ? mServer : mClient)->setFocus();
}

void TfraChoice::keyPressEvent(QKeyEvent* event) {
    // Enter chooses, as OK does, wherever the focus is but on another button (which takes it).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        okClicked();
        return;
    }
    QWidget::keyPressEvent(event);
}

TRole TfraChoice::selectedRole() const {
    return mClient->isChecked() ? RoleClient : mServer->isChecked() ? RoleServer : RoleNone;
}

void TfraChoice::roleClicked() {
    mDescription->setPlainText(Description(selectedRole()));
}

void TfraChoice::okClicked() {
    const TRole role = selectedRole();
    if (role == RoleNone) return;
    mShell.ChooseRole(role);
}
