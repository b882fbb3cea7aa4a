#include "app/ViewPlaceholder.h"

#include <QPainter>

TViewPlaceholder::TViewPlaceholder(QWidget* parent, const QString& name, TColor foreColor, TColor inactiveColor)
    : QWidget(parent), foreColor_(foreColor), inactiveColor_(inactiveColor) {
    setObjectName(name);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TViewPlaceholder::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    p.setPen(ToQColor(inactiveColor_));
    const int mid = height() / 2;
    p.drawLine(0, mid, width() - 1, mid);
}
