#include "app/Messages.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace {

const char* logTarget() {
    const char* target = std::getenv("TESSIVO_MESSAGE_LOG");
    return target && *target ? target : nullptr;
}

void writeToLog(const char* target, const QString& kind, const QString& text) {
    QString line = text;
    line.replace("\r\n", "\\n").replace('\n', "\\n");
    const QByteArray bytes = (kind + ": " + line + "\n").toUtf8();
    if (std::string(target) == "-") {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
        return;
    }
    QFile file(QString::fromLocal8Bit(target));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) file.write(bytes);
}

void showBox(QMessageBox::Icon icon, const QString& kind, const QString& text, QWidget* parent) {
    if (const char* target = logTarget()) {
        writeToLog(target, kind, text);
        return;
    }
    QMessageBox box(icon, QApplication::applicationName(), text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace

bool MessagesRedirected() { return logTarget() != nullptr; }

void ShowMessage(const QString& text, QWidget* parent) {
    showBox(QMessageBox::NoIcon, "message", text, parent);
}

void ShowErrorBox(const QString& text, QWidget* parent) {
    showBox(QMessageBox::Critical, "error", text, parent);
}
