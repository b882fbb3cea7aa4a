// Program entry: the application, its title and the main window.
//
// For automated runs of the real executable (see also TESSIVO_MESSAGE_LOG in app/Messages.h):
// TESSIVO_CLOSE_AFTER_MS=N closes the main window N milliseconds after the message loop runs
// with it shown and no modal dialog open (the first load done), and writes the line
// "tessivo: window shown" to the standard error at that moment. With TESSIVO_PLAY=1 as well,
// Play is pressed at that moment (the selection is the whole file) and "tessivo: playing" is
// written when playback runs. TESSIVO_CONTROL_DUMP (app/ControlDump.h) keeps a file describing
// the controls on the screen for tests that drive the program on a display.
#include "app/Application.h"
#include "app/ControlDump.h"
#include "app/UTessivo.h"
#include "platform/FileNames.h"
#include "platform/TerminationSignals.h"
#include "platform/WaveOut.h"

#include <QAbstractButton>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void closeWhenIdle(TFrmTessivo* window, int ms) {
    // The first load runs a modal import dialog; wait until it is gone.
    if (QApplication::activeModalWidget() || !window->isVisible()) {
        QTimer::singleShot(50, window, [window, ms] { closeWhenIdle(window, ms); });
        return;
    }
    std::fputs("tessivo: window shown\n", stderr);
    std::fflush(stderr);
    if (const char* play = std::getenv("TESSIVO_PLAY"); play && std::string(play) == "1") {
        auto* button = window->Control<QAbstractButton>("PlayBtn");
        if (button) button->click();
        if (button && button->isChecked()) std::fputs("tessivo: playing\n", stderr);
    }
    QTimer::singleShot(ms, window, &QWidget::close);
}

void armAutoClose(TFrmTessivo* window) {
    const char* value = std::getenv("TESSIVO_CLOSE_AFTER_MS");
    if (!value || !*value) return;
    const int ms = std::max(0, std::atoi(value));
    QTimer::singleShot(0, window, [window, ms] { closeWhenIdle(window, ms); });
}

}  // namespace

int main(int argc, char** argv) {
    // The sound devices are listed while Qt starts and the window is made.
    TWaveOutDeviceProbe devices;
    TTessivoApplication app(argc, argv);
    SetUpApplication();
    StartControlDump();  // before the window: its first load runs the import dialog

    // The window frees itself when it closes (FormClose); until then the application owns it.
    // The arguments as the bytes given: a file name need not be valid UTF-8.
    auto* FrmTessivo = new TFrmTessivo(ArgumentsAsFileNames(argc, argv));
    if (FrmTessivo->Terminated()) {
        delete FrmTessivo;
        return 0;
    }
    FrmTessivo->show();
    armAutoClose(FrmTessivo);

    // Set up after the window connected to the catalogue, whose client library installs
    // handlers of its own for these signals that do not end the program. Every event loop
    // (a modal dialog's too) ends; the window then closes the catalogue and any playback,
    // and the process ends by the signal.
    int caught = 0;
    TTerminationSignals termination([&caught](int signo) {
        if (caught == 0) caught = signo;
        QCoreApplication::exit(128 + signo);
    });
    QPointer<TFrmTessivo> window(FrmTessivo);
    const int code = app.exec();
    if (caught != 0) {
        delete window.data();
        TTerminationSignals::Reraise(caught);
    }
    return code;
}
