// The application object of the program: its title, look and resources, and the default error
// box for exceptions that no handler caught (the window stays usable after it).
#pragma once

#include <QApplication>

#include <functional>

extern const char* const STessivoTitle;  // "Tessivo - Quelt Sistemas"

class TTessivoApplication : public QApplication {
public:
    TTessivoApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Runs one event delivery; an exception escaping it is shown in the default error box (its
// message text) and the delivery counts as not handled.
bool DeliverGuarded(const std::function<bool()>& deliver);

// Registers the embedded images and cursors; safe to call more than once.
void InitResources();

// Title, style, palette (the classic button face) and font of the running application;
// called once by the program and by the tests before a window is made.
void SetUpApplication();
