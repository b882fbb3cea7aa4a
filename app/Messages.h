// The program's message boxes, with one hook for automated runs.
//
// When the environment variable TESSIVO_MESSAGE_LOG names a file, no box is shown: each
// message is appended to that file as one line (line breaks inside it written as "\n") and the
// box's default answer is returned at once. The value "-" writes to the standard error instead.
// The end-to-end tests use it to see every message of the real executable without a screen.
#pragma once

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

// The plain information box (title: the application's title, one OK button).
void ShowMessage(const QString& text, QWidget* parent = nullptr);

// The application's default error box for an exception that no handler caught.
void ShowErrorBox(const QString& text, QWidget* parent = nullptr);

// A question with two buttons; true when the first (yes) is chosen. The box opens on the second,
// the safe one, which Esc also chooses. Redirected, the line "question: TEXT [YES|NO]" is written
// and the answer is the button whose caption TESSIVO_MESSAGE_ANSWER holds (the second otherwise).
bool AskMessage(const QString& text, const QString& yes, const QString& no, QWidget* parent = nullptr);
// The box AskMessage shows (for pictures of it); Yes is the first button's role, No the second's.
std::unique_ptr<QMessageBox> MakeQuestionBox(const QString& text, const QString& yes, const QString& no,
                                             QWidget* parent = nullptr);

// True when TESSIVO_MESSAGE_LOG is set and boxes are written instead of shown.
bool MessagesRedirected();
