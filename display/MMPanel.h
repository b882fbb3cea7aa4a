// The panel of the main window's frames and status cells: a TMMCustomPanel with its
// properties in reach (Align, Alignment, Bevel, Caption, Color, Font, ParentColor, ...).
#pragma once

#include "common/MMControls.h"

class TMMPanel : public TMMCustomPanel {
public:
    // A new panel is 185 x 41 pixels, button-face coloured, with a lowered 1-pixel outer bevel
    // and its caption centred.
    explicit TMMPanel(QWidget* parent = nullptr);
};
