// Captions against the fixed places of the classic area: how much room a
// control's caption has in the current font and style, and the scale that
// lets every caption fit when a larger system font makes them wider than the
// places drawn for the normal one.
#pragma once

#include <QList>
#include <QStringList>

class QWidget;

namespace velquin {

// Pixels the widest of `captions` needs beyond the room `control` (a push,
// radio or check button, a label or a frame) gives it; 0 or less when all
// fit. Other controls have no caption: 0.
int captionOverflow(const QWidget& control, const QStringList& captions);
// The same for the caption the control shows now.
int captionOverflow(const QWidget& control);

// A control that shows several captions in turn (one per mode).
struct CaptionSet {
    const QWidget* control = nullptr;
    QStringList captions;
};

// Scales every control placed under `area` (not those a layout manages),
// and `area` itself, by the factor that lets each control's caption (and
// each caption of `alternatives`) fit across and a line of its font fit
// down, keeping the arrangement. Returns the factor: 1, and nothing moved,
// when everything fits already.
double fitCaptions(QWidget& area, const QList<CaptionSet>& alternatives = {});

}  // namespace velquin
