// The program's message boxes, with one hook for automated runs.
//
// When the environment variable TESSIVO_MESSAGE_LOG names a file, no box is shown: each
// message is appended to that file as one line (line breaks inside it written as "\n") and the
// box's default answer is returned at once. The value "-" writes to the standard error instead.
// The end-to-end tests use it to see every message of the real executable without a screen.
#pragma once

#include <QString>

class QWidget;

// The plain information box (title: the application's title, one OK button).
void ShowMessage(const QString& text, QWidget* parent = nullptr);

// The application's default error box for an exception that no handler caught.
void ShowErrorBox(const QString& text, QWidget* parent = nullptr);

// True when TESSIVO_MESSAGE_LOG is set and boxes are written instead of shown.
bool MessagesRedirected();
