#pragma once
// The application object of the desktop program, made so that a display that cannot be reached
// does not end the program: Qt aborts when no window system comes up, so its own "offscreen"
// platform is the last one it is given to try.
#include <QApplication>
#include <QString>
#include <memory>

// The application object on the first window system that reaches its display (in Qt's order of
// preference, or QT_QPA_PLATFORM's when set). When none does, it comes up on "offscreen" and
// *unreachable names the display (DISPLAY, else WAYLAND_DISPLAY): the caller runs headless
// instead. Qt is given none of the program's parameters: a job's password could be "-style".
// Made once per process; `programName` must live as long as the object.
std::unique_ptr<QApplication> MakeDesktopApplication(char* programName, QString* unreachable);
