#include "app/ControlDump.h"

#include "common/MMControls.h"
#include "display/MMGauge.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {

QString escaped(QString text) {
    return text.replace('\\', "\\\\").replace('\t', "\\t").replace("\r\n", "\\n").replace('\n', "\\n");
}

QString textOf(const QWidget* w) {
    if (w->isWindow()) return w->windowTitle();
    if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    if (auto* m = qobject_cast<const QPlainTextEdit*>(w)) return m->toPlainText();
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (auto* s = qobject_cast<const QSpinBox*>(w)) return QString::number(s->value());
    if (auto* p = dynamic_cast<const TMMCustomPanel*>(w)) return p->Caption();
    if (auto* g = dynamic_cast<const TMMCustomGauge*>(w)) return QString::number(g->Progress());
    return {};
}

QString line(const QString& name, const char* cls, const QWidget* window, QRect r, const QString& flags,
             const QString& text) {
    return QStringList{name, QString::fromLatin1(cls), QString::number(window->internalWinId(), 16),
                       QString::number(r.x()), QString::number(r.y()), QString::number(r.width()),
                       QString::number(r.height()), flags, escaped(text)}
               .join('\t') +
           '\n';
}

void describe(const QWidget* w, QString& out) {
    const QWidget* window = w->window();
    QString flags;
    if (w->isEnabled()) flags += 'e';
    if (auto* b = qobject_cast<const QAbstractButton*>(w); b && b->isChecked()) flags += 'c';
    if (w->hasFocus()) flags += 'f';
    if (w->isWindow() && w->isActiveWindow()) flags += 'a';
    const QString name = w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
    out += line(name, w->metaObject()->className(), window, QRect(w->mapToGlobal(QPoint(0, 0)), w->size()), flags,
                textOf(w));

    auto* table = qobject_cast<const QTableView*>(w);
    if (!table || !table->model()) return;
    const QAbstractItemModel* model = table->model();
    const QWidget* viewport = table->viewport();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QRect cell = table->visualRect(model->index(row, 0));
        if (!cell.isValid() || !viewport->rect().intersects(cell)) continue;
        QStringList cells;
        for (int col = 0; col < model->columnCount(); ++col) cells << model->index(row, col).data().toString();
        const QRect rowRect(viewport->mapToGlobal(QPoint(0, cell.y())), QSize(viewport->width(), cell.height()));
        out += line(name + ':' + QString::number(row), "row", window, rowRect,
                    table->currentIndex().row() == row ? "c" : "", cells.join(" | "));
    }
}

QString snapshot() {
    QString out;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        describe(top, out);
        for (QWidget* w : top->findChildren<QWidget*>()) {
            if (!w->objectName().isEmpty() && w->isVisible() && w->window() == top) describe(w, out);
        }
    }
    return out;
}

}  // namespace

void StartControlDump() {
    const char* target = std::getenv("TESSIVO_CONTROL_DUMP");
    if (!target || !*target) return;
    const QString path = QString::fromLocal8Bit(target);
    auto* timer = new QTimer(qApp);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, qApp, [path, last = QString()]() mutable {
        const QString now = snapshot();
        if (now == last) return;
        QFile file(path + ".new");
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
        const QByteArray bytes = now.toUtf8();
        if (file.write(bytes) != bytes.size()) return;
        file.close();
        // rename replaces the old file at once: a reader sees the old or the new one.
        if (std::rename(QFile::encodeName(path + ".new").constData(), QFile::encodeName(path).constData()) == 0)
            last = now;
    });
    timer->start();
}
