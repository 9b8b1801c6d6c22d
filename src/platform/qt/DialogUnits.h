// Dialog units: template rectangles are measured in quarters of the dialog font's average character
// width and eighths of its height, so a layout keeps its proportions whatever font the system has.
#pragma once

#include <QFont>
#include <QRect>

struct DialogTemplate;

struct DialogBaseUnits {
    int nX = 0;  // pixels per 4 horizontal dialog units
    int nY = 0;  // pixels per 8 vertical dialog units
};

// The template's font when the system has it, otherwise the application's font family at the
// template's point size (the usual case off the original platform: "MS Sans Serif" is not installed).
QFont DialogFont(const DialogTemplate& dialogTemplate);

// Average width of the 52 Latin letters, rounded, and the font's line height.
DialogBaseUnits BaseUnitsOf(const QFont& font);

int DialogUnitsToPixelsX(const DialogBaseUnits& units, int x);
int DialogUnitsToPixelsY(const DialogBaseUnits& units, int y);
QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy);
