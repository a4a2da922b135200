// Draws the conversion dialog for the README: image_dialog_shot IMAGE OUT.png
// (offscreen platform; nothing is written beside the image).
#include <QApplication>
#include <QComboBox>
#include <QSpinBox>
#include <cstdio>

#include "image_conversion_dialog.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: image_dialog_shot IMAGE OUT.png\n");
        return 2;
    }
    velquin::image::ImageConversion conversion;
    if (!conversion.open(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "%s\n", qPrintable(conversion.error()));
        return 1;
    }
    velquin::ImageConversionDialog dialog(conversion);
    dialog.dither->setCurrentIndex(dialog.dither->findData(int(velquin::image::Dither::Diffusion)));
    dialog.widthDots->setValue(400);
    dialog.adjustSize();
    return dialog.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
