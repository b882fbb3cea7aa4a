#include "app/Application.h"

#include "app/Messages.h"
#include "common/MMColors.h"
#include "platform/MessageWindow.h"

#include <QFont>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include <exception>
#include <mutex>

const char* const STessivoTitle = "Tessivo - Quelt Sistemas";

// Outside any namespace, as the resource initialiser requires.
static void initTessivoResources() { Q_INIT_RESOURCE(tessivo); }

void InitResources() {
    static std::once_flag once;
    std::call_once(once, initTessivoResources);
}

TTessivoApplication::TTessivoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool DeliverGuarded(const std::function<bool()>& deliver) {
    try {
        return deliver();
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorBox("Unknown error");
    }
    return false;
}

bool TTessivoApplication::notify(QObject* receiver, QEvent* event) {
    return DeliverGuarded([&] { return QApplication::notify(receiver, event); });
}

void SetUpApplication() {
    InitResources();
    QApplication::setApplicationName(STessivoTitle);
    QApplication::setApplicationDisplayName(STessivoTitle);
    QApplication::setStyle(QStyleFactory::create("Fusion"));

    // The classic scheme the library's system colours resolve to, so that the panels, the
    // buttons and the toolkit's own controls share one face.
    QPalette pal = QApplication::style()->standardPalette();
    const QColor face = ToQColor(clBtnFace);
    pal.setColor(QPalette::Window, face);
    pal.setColor(QPalette::Button, face);
    pal.setColor(QPalette::Base, ToQColor(clWindow));
    pal.setColor(QPalette::Text, ToQColor(clWindowText));
    pal.setColor(QPalette::WindowText, ToQColor(clBtnText));
    pal.setColor(QPalette::ButtonText, ToQColor(clBtnText));
    pal.setColor(QPalette::Light, ToQColor(clBtnHighlight));
    pal.setColor(QPalette::Mid, ToQColor(clBtnShadow));
    pal.setColor(QPalette::Dark, ToQColor(clBtnShadow));
    pal.setColor(QPalette::Highlight, ToQColor(clActiveCaption));
    pal.setColor(QPalette::HighlightedText, Qt::white);
    pal.setColor(QPalette::Disabled, QPalette::Base, face);
    pal.setColor(QPalette::Disabled, QPalette::Text, ToQColor(clBtnShadow));
    pal.setColor(QPalette::Disabled, QPalette::WindowText, ToQColor(clBtnShadow));
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, ToQColor(clBtnShadow));
    QApplication::setPalette(pal);

    // DejaVu Sans is installed with the program's packages; 8 points as on the stations' desktops.
    QFont font("DejaVu Sans");
    font.setPointSize(8);
    QApplication::setFont(font);

    // A failure while the wave output processes a returned buffer reaches the user like any
    // other uncaught error.
    MessageWindow::SetExceptionHandler([](std::exception_ptr e) {
        DeliverGuarded([&]() -> bool { std::rethrow_exception(e); });
    });
}
