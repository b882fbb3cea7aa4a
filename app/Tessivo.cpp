// Program entry: the application, its title and the main window.
#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName("Tessivo - Quelt Sistemas");
    return 0;
}
