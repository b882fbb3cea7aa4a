// Stand-in for a waveform view until the oscilloscope control exists: a black area of the
// view's size and name with its centre line in the view's inactive colour.
#pragma once

#include "common/MMColors.h"

#include <QWidget>

class TViewPlaceholder : public QWidget {
public:
    TViewPlaceholder(QWidget* parent, const QString& name, TColor foreColor, TColor inactiveColor);
    TColor ForeColor() const { return foreColor_; }
    TColor InactiveColor() const { return inactiveColor_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TColor foreColor_;
    TColor inactiveColor_;
};
