// The conversion dialog: an image and its PCX at the printer's dots side by
// side, live as the operator changes size, resolution, black-and-white mode,
// invert and turn. Its logic is image::ImageConversion; this is the view.
#pragma once

#include <QDialog>
#include <optional>

#include "image_conversion.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;

namespace velquin {

class OperatorPrompts;

class ImageConversionDialog : public QDialog {
    Q_OBJECT

public:
    ImageConversionDialog(image::ImageConversion& conversion, QWidget* parent = nullptr);

    // Shows the conversion again after a change of the controls.
    void refresh();

    QLabel* before = nullptr;
    QLabel* after = nullptr;
    QSpinBox* widthDots = nullptr;
    QSpinBox* heightDots = nullptr;
    QComboBox* dotsPerInch = nullptr;
    QDoubleSpinBox* widthMillimetres = nullptr;
    QDoubleSpinBox* heightMillimetres = nullptr;
    QCheckBox* keepAspect = nullptr;
    QComboBox* dither = nullptr;
    QSpinBox* thresholdLevel = nullptr;
    QCheckBox* invert = nullptr;
    QComboBox* rotation = nullptr;
    QLabel* facts = nullptr;
    QDialogButtonBox* buttons = nullptr;

private:
    void showSize();
    image::ImageConversion& conversion_;
    bool updating_ = false;
};

// In PCX mode "Add To List" takes images too: this converts one through the
// dialog and writes the PCX beside it, asking before it replaces a file the
// program did not write. The PCX's path, or nothing when the operator
// cancels or the image cannot be read (said in a message).
std::optional<QString> convertImageForList(const QString& imagePath, OperatorPrompts& prompts,
                                           QWidget* parent, image::WrittenFiles& written);

// True for a file "Add To List" in PCX mode sends through the converter:
// anything but a PCX file.
bool needsConversionToPcx(const QString& path);

}  // namespace velquin
