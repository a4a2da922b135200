#include "caption_fit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <algorithm>
#include <cmath>

namespace velquin {

namespace {

// Growth beyond the computed factor when rounding to whole pixels still
// leaves a caption a pixel short; a few rounds always settle it.
constexpr double SCALE_STEP = 1.02;
constexpr int SCALE_ROUNDS = 4;

QStringList shownCaptions(const QWidget& control) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) return {button->text()};
    if (const auto* label = qobject_cast<const QLabel*>(&control)) return {label->text()};
    if (const auto* frame = qobject_cast<const QGroupBox*>(&control)) return {frame->title()};
    return {};
}

// Where a frame draws `caption` as its title, as wide as the text.
QRect titleRect(const QGroupBox& frame, const QString& caption) {
    QStyleOptionGroupBox option;
    option.initFrom(&frame);
    option.rect = frame.rect();
    option.text = caption;
    option.textAlignment = frame.alignment();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    option.lineWidth = 1;
    return frame.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &frame);
}

// Where the control draws `caption`: the style's contents rectangle of a
// button, the label's contents less its indent, a frame's title. Empty for
// a control without a caption.
QRect captionRect(const QWidget& control, const QString& caption) {
    QStyle* style = control.style();
    if (const auto* frame = qobject_cast<const QGroupBox*>(&control)) {
        const QRect label = titleRect(*frame, caption);
        // The title may use the frame's width less the same margin on each side.
        return QRect(label.left(), label.top(), frame->width() - 2 * label.left(), label.height());
    }
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        QRect room = label->contentsRect();
        if (label->indent() > 0) room.setLeft(room.left() + label->indent());
        return room;
    }
    QStyle::SubElement contents;
    if (qobject_cast<const QPushButton*>(&control))
        contents = QStyle::SE_PushButtonContents;
    else if (qobject_cast<const QRadioButton*>(&control))
        contents = QStyle::SE_RadioButtonContents;
    else if (qobject_cast<const QCheckBox*>(&control))
        contents = QStyle::SE_CheckBoxContents;
    else
        return {};
    QStyleOptionButton option;
    option.initFrom(&control);
    option.rect = control.rect();
    option.text = caption;
    return style->subElementRect(contents, &option, &control);
}

int textWidth(const QWidget& control, const QString& caption) {
    // A frame's title rectangle is already the text's width.
    if (const auto* frame = qobject_cast<const QGroupBox*>(&control))
        return titleRect(*frame, caption).width();
    return control.fontMetrics().horizontalAdvance(caption);
}

// The factor by which `control` must grow for `caption` to fit across and,
// except a frame's title, for a line of its font to fit down.
double neededScale(const QWidget& control, const QString& caption) {
    if (caption.isEmpty() || control.width() <= 0 || control.height() <= 0) return 1.0;
    const QRect room = captionRect(control, caption);
    if (room.isNull()) return 1.0;
    // The margins around the caption stay as they are; only the room grows.
    const int sideMargins = control.width() - room.width();
    double scale = static_cast<double>(textWidth(control, caption) + sideMargins) / control.width();
    if (!qobject_cast<const QGroupBox*>(&control)) {
        const int topMargins = control.height() - room.height();
        scale = std::max(scale,
                         static_cast<double>(control.fontMetrics().height() + topMargins) / control.height());
    }
    return scale;
}

// The controls placed at fixed places: the area's children and, inside the
// frames, theirs. Other widgets' children are theirs to arrange.
template <typename Visit>
void forEachPlacedControl(const QWidget& parent, Visit&& visit) {
    for (QWidget* child : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow()) continue;
        visit(*child);
        if (qobject_cast<QGroupBox*>(child) != nullptr) forEachPlacedControl(*child, visit);
    }
}

double scaleFor(const QWidget& area, const QList<CaptionSet>& alternatives) {
    double scale = 1.0;
    forEachPlacedControl(area, [&scale](const QWidget& control) {
        for (const QString& caption : shownCaptions(control))
            scale = std::max(scale, neededScale(control, caption));
    });
    for (const CaptionSet& set : alternatives)
        for (const QString& caption : set.captions)
            scale = std::max(scale, neededScale(*set.control, caption));
    return scale;
}

QRect scaled(const QRect& place, double scale) {
    // Both edges are scaled, so controls that met still meet.
    const int left = static_cast<int>(std::lround(place.x() * scale));
    const int top = static_cast<int>(std::lround(place.y() * scale));
    const int right = static_cast<int>(std::lround((place.x() + place.width()) * scale));
    const int bottom = static_cast<int>(std::lround((place.y() + place.height()) * scale));
    return {left, top, right - left, bottom - top};
}

}  // namespace

int captionOverflow(const QWidget& control, const QStringList& captions) {
    int overflow = 0;
    for (const QString& caption : captions) {
        if (caption.isEmpty()) continue;
        const QRect room = captionRect(control, caption);
        if (room.isNull()) continue;
        overflow = std::max(overflow, textWidth(control, caption) - room.width());
    }
    return overflow;
}

int captionOverflow(const QWidget& control) {
    return captionOverflow(control, shownCaptions(control));
}

double fitCaptions(QWidget& area, const QList<CaptionSet>& alternatives) {
    double total = 1.0;
    // Whole pixels may leave a caption a pixel short after a round: measure again.
    for (int round = 0; round < SCALE_ROUNDS; ++round) {
        const double scale = scaleFor(area, alternatives);
        if (scale <= 1.0) break;
        const double step = round == 0 ? scale : std::max(scale, SCALE_STEP);
        area.setFixedSize(scaled(QRect(QPoint(0, 0), area.size()), step).size());
        forEachPlacedControl(
            area, [step](QWidget& control) { control.setGeometry(scaled(control.geometry(), step)); });
        total *= step;
    }
    return total;
}

}  // namespace velquin
