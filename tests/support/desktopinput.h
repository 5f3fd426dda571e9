#pragma once

#include <QByteArray>
#include <QStringList>

#include <cstdio>

// Real input and real output of the desktop a test runs on: X input through xdotool, and the
// process's standard output read back.
namespace DesktopInput {

// Runs xdotool with the arguments and returns its output lines.
QStringList xdotool(const QStringList& arguments);

} // namespace DesktopInput

// Standard output sent to a file while it lives, so that tests can read what the program printed.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    QByteArray text() const;

private:
    FILE* m_file;
    int m_saved;
};
