#include "image_conversion_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "operator_prompts.h"

namespace velquin {

namespace {

constexpr int PREVIEW_SIDE = 320;

QPixmap previewOf(const QImage& image) {
    if (image.isNull()) return {};
    // Small logos grow by whole steps so each dot stays a sharp square.
    QImage shown = image;
    if (image.width() < PREVIEW_SIDE && image.height() < PREVIEW_SIDE) {
        const int factor = std::max(1, std::min(PREVIEW_SIDE / image.width(), PREVIEW_SIDE / image.height()));
        shown = image.scaled(image.size() * factor, Qt::KeepAspectRatio, Qt::FastTransformation);
    } else {
        shown = image.scaled(PREVIEW_SIDE, PREVIEW_SIDE, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return QPixmap::fromImage(shown);
}

QImage imageOf(const image::MonoImage& mono) {
    QImage out(mono.width(), mono.height(), QImage::Format_Grayscale8);
    for (int y = 0; y < mono.height(); ++y) {
        uchar* line = out.scanLine(y);
        for (int x = 0; x < mono.width(); ++x) line[x] = mono.isBlack(x, y) ? 0 : 255;
    }
    return out;
}

// The image in its colours for the "before" view, drawn small; the grey the
// conversion works on when it cannot be read again.
QImage colourPreview(const image::ImageConversion& conversion) {
    // Qt's SVG reader would read the files a drawing names: a drawing shows
    // as the conversion drew it.
    QFile file(conversion.imagePath());
    if (!file.open(QIODevice::ReadOnly) || QImageReader::imageFormat(&file).startsWith("svg"))
        return conversion.source();
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    if (!image::readerRefusal(reader, conversion.options.limits.maxDecodedBytes).isEmpty())
        return conversion.source();
    const QSize size = conversion.sourceSize();
    if (size.width() > PREVIEW_SIDE || size.height() > PREVIEW_SIDE)
        reader.setScaledSize(size.scaled(PREVIEW_SIDE, PREVIEW_SIDE, Qt::KeepAspectRatio));
    QImage colour = reader.read();
    if (colour.isNull()) return conversion.source();
    QImage flat(colour.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, colour);
    return flat;
}

QLabel* previewLabel() {
    auto* label = new QLabel;
    label->setMinimumSize(PREVIEW_SIDE, PREVIEW_SIDE);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameShape(QFrame::StyledPanel);
    return label;
}

}  // namespace

ImageConversionDialog::ImageConversionDialog(image::ImageConversion& conversion, QWidget* parent)
    : QDialog(parent), conversion_(conversion) {
    setWindowTitle(QStringLiteral("Convert %1 to PCX").arg(QFileInfo(conversion.imagePath()).fileName()));
    before = previewLabel();
    after = previewLabel();

    const int maxSide = conversion.options.limits.maxSide;
    widthDots = new QSpinBox;
    heightDots = new QSpinBox;
    for (QSpinBox* box : {widthDots, heightDots}) {
        box->setRange(1, maxSide);
        box->setSuffix(QStringLiteral(" dots"));
    }
    dotsPerInch = new QComboBox;
    for (const int dpi : image::PRINTER_RESOLUTIONS)
        dotsPerInch->addItem(QStringLiteral("%1 dpi").arg(dpi), dpi);
    dotsPerInch->setCurrentIndex(dotsPerInch->findData(conversion.dotsPerInch));
    widthMillimetres = new QDoubleSpinBox;
    heightMillimetres = new QDoubleSpinBox;
    for (QDoubleSpinBox* box : {widthMillimetres, heightMillimetres}) {
        box->setRange(0.1, 100000);
        box->setDecimals(1);
        box->setSuffix(QStringLiteral(" mm"));
    }
    keepAspect = new QCheckBox(QStringLiteral("Keep aspect"));
    keepAspect->setChecked(true);
    dither = new QComboBox;
    dither->addItem(QStringLiteral("Threshold"), int(image::Dither::Threshold));
    dither->addItem(QStringLiteral("Error diffusion"), int(image::Dither::Diffusion));
    dither->addItem(QStringLiteral("Ordered"), int(image::Dither::Ordered));
    dither->setCurrentIndex(dither->findData(int(conversion.options.dither)));
    thresholdLevel = new QSpinBox;
    thresholdLevel->setRange(0, 255);
    thresholdLevel->setValue(conversion.options.thresholdLevel);
    invert = new QCheckBox(QStringLiteral("Invert"));
    rotation = new QComboBox;
    for (const int degrees : {0, 90, 180, 270})
        rotation->addItem(QStringLiteral("%1°").arg(degrees), degrees);
    facts = new QLabel;
    facts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);

    auto* size = new QGroupBox(QStringLiteral("Size"));
    auto* sizeForm = new QGridLayout(size);
    sizeForm->addWidget(new QLabel(QStringLiteral("Resolution")), 0, 0);
    sizeForm->addWidget(dotsPerInch, 0, 1, 1, 2);
    sizeForm->addWidget(new QLabel(QStringLiteral("Width")), 1, 0);
    sizeForm->addWidget(widthDots, 1, 1);
    sizeForm->addWidget(widthMillimetres, 1, 2);
    sizeForm->addWidget(new QLabel(QStringLiteral("Height")), 2, 0);
    sizeForm->addWidget(heightDots, 2, 1);
    sizeForm->addWidget(heightMillimetres, 2, 2);
    sizeForm->addWidget(keepAspect, 3, 1, 1, 2);

    auto* look = new QGroupBox(QStringLiteral("Black and white"));
    auto* lookForm = new QFormLayout(look);
    lookForm->addRow(QStringLiteral("Mode"), dither);
    lookForm->addRow(QStringLiteral("Threshold level"), thresholdLevel);
    lookForm->addRow(QStringLiteral("Turn clockwise"), rotation);
    lookForm->addRow(invert);

    auto* previews = new QGridLayout;
    previews->addWidget(new QLabel(QStringLiteral("Image")), 0, 0);
    previews->addWidget(new QLabel(QStringLiteral("PCX at the printer's dots")), 0, 1);
    previews->addWidget(before, 1, 0);
    previews->addWidget(after, 1, 1);
    auto* controls = new QHBoxLayout;
    controls->addWidget(size);
    controls->addWidget(look);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(previews);
    layout->addLayout(controls);
    layout->addWidget(facts);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(widthDots, &QSpinBox::valueChanged, this, [this](int dots) {
        if (updating_) return;
        conversion_.setWidthDots(dots, keepAspect->isChecked());
        refresh();
    });
    connect(heightDots, &QSpinBox::valueChanged, this, [this](int dots) {
        if (updating_) return;
        conversion_.setHeightDots(dots, keepAspect->isChecked());
        refresh();
    });
    connect(widthMillimetres, &QDoubleSpinBox::valueChanged, this, [this](double mm) {
        if (updating_) return;
        conversion_.setWidthDots(image::dotsFor(mm, conversion_.dotsPerInch), keepAspect->isChecked());
        refresh();
    });
    connect(heightMillimetres, &QDoubleSpinBox::valueChanged, this, [this](double mm) {
        if (updating_) return;
        conversion_.setHeightDots(image::dotsFor(mm, conversion_.dotsPerInch), keepAspect->isChecked());
        refresh();
    });
    connect(dotsPerInch, &QComboBox::currentIndexChanged, this, [this] {
        if (updating_) return;
        // The printed size stays; the dots follow the resolution.
        const double width = conversion_.widthMillimetres(), height = conversion_.heightMillimetres();
        conversion_.dotsPerInch = dotsPerInch->currentData().toInt();
        conversion_.options.widthDots = image::dotsFor(width, conversion_.dotsPerInch);
        conversion_.options.heightDots = image::dotsFor(height, conversion_.dotsPerInch);
        refresh();
    });
    connect(dither, &QComboBox::currentIndexChanged, this, [this] {
        conversion_.options.dither = static_cast<image::Dither>(dither->currentData().toInt());
        refresh();
    });
    connect(thresholdLevel, &QSpinBox::valueChanged, this, [this](int level) {
        conversion_.options.thresholdLevel = level;
        refresh();
    });
    connect(invert, &QCheckBox::toggled, this, [this](bool on) {
        conversion_.options.invert = on;
        refresh();
    });
    connect(rotation, &QComboBox::currentIndexChanged, this, [this] {
        // The sides swap with a quarter turn; the picture keeps its dots.
        const QSize before = conversion_.sizeDots();
        const int degrees = rotation->currentData().toInt();
        const bool swap = ((conversion_.options.rotation / 90) % 2) != ((degrees / 90) % 2);
        conversion_.options.rotation = degrees;
        const QSize now = swap ? before.transposed() : before;
        conversion_.options.widthDots = now.width();
        conversion_.options.heightDots = now.height();
        refresh();
    });

    before->setPixmap(previewOf(colourPreview(conversion)));
    refresh();
}

void ImageConversionDialog::showSize() {
    updating_ = true;
    const QSize dots = conversion_.sizeDots();
    widthDots->setValue(dots.width());
    heightDots->setValue(dots.height());
    widthMillimetres->setValue(conversion_.widthMillimetres());
    heightMillimetres->setValue(conversion_.heightMillimetres());
    thresholdLevel->setEnabled(conversion_.options.dither == image::Dither::Threshold);
    updating_ = false;
}

void ImageConversionDialog::refresh() {
    showSize();
    const image::ConversionResult& result = conversion_.result();
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    if (!result.ok()) {
        after->setPixmap({});
        after->setText(result.error);
        facts->setText(result.error);
        ok->setEnabled(false);
        return;
    }
    after->setPixmap(previewOf(imageOf(result.image)));
    const QLocale locale;
    facts->setText(QStringLiteral("%1 x %2 dots, %3 x %4 mm at %5 dpi, PCX file %6 bytes")
                       .arg(result.image.width())
                       .arg(result.image.height())
                       .arg(locale.toString(conversion_.widthMillimetres(), 'f', 1),
                            locale.toString(conversion_.heightMillimetres(), 'f', 1))
                       .arg(conversion_.dotsPerInch)
                       .arg(locale.toString(conversion_.pcx().size())));
    ok->setEnabled(true);
}

bool needsConversionToPcx(const QString& path) {
    return QFileInfo(path).suffix().compare(QLatin1String("pcx"), Qt::CaseInsensitive) != 0;
}

std::optional<QString> convertImageForList(const QString& imagePath, OperatorPrompts& prompts,
                                           QWidget* parent, image::WrittenFiles& written) {
    image::ImageConversion conversion;
    if (!conversion.open(imagePath)) {
        prompts.message(
            QStringLiteral("The image %1 can not be converted: %2").arg(imagePath, conversion.error()),
            APPLICATION_TITLE, MessageIcon::Exclamation);
        return std::nullopt;
    }
    ImageConversionDialog dialog(conversion, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;

    const QString target = image::pcxPathBeside(imagePath);
    if (conversion.checkTarget(target, written) == image::ImageConversion::SaveCheck::NotOurs &&
        !prompts.askYesNo(
            QStringLiteral("%1 exists and was not made by this program. Replace it?").arg(target),
            APPLICATION_TITLE, DefaultAnswer::No))
        return std::nullopt;
    if (!conversion.write(target, written)) {
        prompts.message(conversion.error(), APPLICATION_TITLE, MessageIcon::Exclamation);
        return std::nullopt;
    }
    return target;
}

}  // namespace velquin
