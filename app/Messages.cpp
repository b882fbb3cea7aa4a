#include "app/Messages.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>

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

std::unique_ptr<QMessageBox> MakeQuestionBox(const QString& text, const QString& yes, const QString& no,
                                             QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, QApplication::applicationName(), text,
                                             QMessageBox::NoButton, parent);
    // Named, so that a run with a control dump (TESSIVO_CONTROL_DUMP) can find and click them.
    box->addButton(yes, QMessageBox::YesRole)->setObjectName("QuestionYes");
    QPushButton* back = box->addButton(no, QMessageBox::NoRole);
    back->setObjectName("QuestionNo");
    box->setDefaultButton(back);
    box->setEscapeButton(back);
    return box;
}

bool AskMessage(const QString& text, const QString& yes, const QString& no, QWidget* parent) {
    if (const char* target = logTarget()) {
        writeToLog(target, "question", text + " [" + yes + "|" + no + "]");
        const char* answer = std::getenv("TESSIVO_MESSAGE_ANSWER");
        return answer && QString::fromUtf8(answer) == yes;
    }
    const std::unique_ptr<QMessageBox> box = MakeQuestionBox(text, yes, no, parent);
    box->exec();
    return box->buttonRole(box->clickedButton()) == QMessageBox::YesRole;
}

bool MessagesRedirected() { return logTarget() != nullptr; }

void ShowMessage(const QString& text, QWidget* parent) {
    showBox(QMessageBox::NoIcon, "message", text, parent);
}

void ShowErrorBox(const QString& text, QWidget* parent) {
    showBox(QMessageBox::Critical, "error", text, parent);
}
