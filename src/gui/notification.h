#pragma once
// TfrmNotif: tells that new files have arrived. One window is kept and shown again for each
// arrival; OK hides it.
#include <QDialog>

class TfrmNotif : public QDialog {
    Q_OBJECT
public:
    explicit TfrmNotif(QWidget* parent = nullptr);
    // Shows the window on top where it stands and sounds two beeps.
    void notify();
    // How many times the window beeped (two per notice); for tests without a sound device.
    int beeps() const { return mBeeps; }

private:
    int mBeeps = 0;
};
