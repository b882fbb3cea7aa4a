#include "display/MMPanel.h"

TMMPanel::TMMPanel(QWidget* parent) : TMMCustomPanel(parent) { resize(185, 41); }
