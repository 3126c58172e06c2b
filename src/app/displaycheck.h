#pragma once

#include <QString>

// A graphical program started where there is no display: Qt would print its own English
// complaint and abort. These say in Chinese how to run the program, and end it with status 1.

// Why Qt's platform will find no display, from the environment; empty when it may find one
// (a display is named, or another platform such as offscreen was asked for).
QString missingDisplay();

// While the application object is created: Qt's fatal "could not connect to display" (a named
// display that is not there) becomes the same message and status 1 instead of an abort.
class DisplayFailureGuard
{
public:
    explicit DisplayFailureGuard(const QString &program);
    ~DisplayFailureGuard();

    DisplayFailureGuard(const DisplayFailureGuard &) = delete;
    DisplayFailureGuard &operator=(const DisplayFailureGuard &) = delete;
};
