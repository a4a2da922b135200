// The conversion dialog on the offscreen platform: the preview and the facts
// follow the controls, and OK writes the PCX beside the image, asking before
// it replaces a file this program did not write.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPainter>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "image_conversion_dialog.h"
#include "operator_prompts.h"
#include "pcx.h"

using namespace velquin;

class ImageDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void previewAndFactsFollowTheControls();
    void okWritesBesideTheImage_data();
    void okWritesBesideTheImage();
    void anUnreadableImageIsSaidAndNothingWritten();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString png_;
};

void ImageDialogTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    png_ = dir_->filePath(QStringLiteral("Logo.PNG"));
    QImage image(80, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(0, 0, 40, 40, Qt::black);
    QVERIFY(image.save(png_, "PNG"));
}

void ImageDialogTest::previewAndFactsFollowTheControls() {
    image::ImageConversion conversion;
    QVERIFY(conversion.open(png_));
    ImageConversionDialog dialog(conversion);
    QCOMPARE(dialog.widthDots->value(), 80);
    QCOMPARE(dialog.heightDots->value(), 40);

    dialog.widthDots->setValue(40);  // aspect kept
    QCOMPARE(dialog.heightDots->value(), 20);
    QCOMPARE(dialog.widthMillimetres->value(), 5.0);  // 40 dots at 203 dpi
    QVERIFY2(
        dialog.facts->text().startsWith(QStringLiteral("40 x 20 dots, 5.0 x 2.5 mm at 203 dpi, PCX file ")),
        qPrintable(dialog.facts->text()));
    QVERIFY(
        dialog.facts->text().endsWith(QString::number(conversion.pcx().size()) + QStringLiteral(" bytes")));
    const QImage shown = dialog.after->pixmap().toImage();
    QVERIFY(!shown.isNull());
    QCOMPARE(qGray(shown.pixel(1, 1)), 0);
    QCOMPARE(qGray(shown.pixel(shown.width() - 2, 1)), 255);

    dialog.dotsPerInch->setCurrentIndex(dialog.dotsPerInch->findData(600));  // printed size kept
    QCOMPARE(dialog.widthDots->value(), 118);
    QCOMPARE(dialog.heightDots->value(), 59);

    dialog.keepAspect->setChecked(false);
    dialog.heightDots->setValue(100);
    QCOMPARE(dialog.widthDots->value(), 118);

    dialog.rotation->setCurrentIndex(dialog.rotation->findData(90));
    QCOMPARE(conversion.result().image.width(), 100);
    QCOMPARE(conversion.result().image.height(), 118);
    QVERIFY(conversion.result().image.isBlack(50, 0));  // the left half is now on top
    dialog.invert->setChecked(true);
    QVERIFY(!conversion.result().image.isBlack(50, 0));
}

void ImageDialogTest::okWritesBesideTheImage_data() {
    QTest::addColumn<QByteArray>("existing");  // "" none, "foreign", "ours"
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("written");
    QTest::addRow("new file") << QByteArray() << false << false << true;
    QTest::addRow("foreign file kept") << QByteArray("foreign") << false << true << false;
    QTest::addRow("foreign file replaced") << QByteArray("foreign") << true << true << true;
    QTest::addRow("our own file replaced") << QByteArray("ours") << false << false << true;
}

void ImageDialogTest::okWritesBesideTheImage() {
    QFETCH(QByteArray, existing);
    QFETCH(bool, answerYes);
    QFETCH(bool, asked);
    QFETCH(bool, written);
    const QString pcx = dir_->filePath(QStringLiteral("Logo.pcx"));
    image::WrittenFiles record(dir_->filePath(QStringLiteral("record")));
    ScriptedOperatorPrompts prompts;
    const auto convertWithOk = [&](int widthDots) {
        QTimer::singleShot(0, [widthDots] {
            auto* dialog = qobject_cast<ImageConversionDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->widthDots->setValue(widthDots);
            dialog->accept();
        });
        return convertImageForList(png_, prompts, nullptr, record);
    };
    if (existing == "foreign") {
        QFile file(pcx);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not ours");
    } else if (existing == "ours") {
        QCOMPARE(convertWithOk(10), std::optional<QString>(pcx));
        prompts.clear();
    }
    prompts.answerYesNo(answerYes);

    const std::optional<QString> result = convertWithOk(20);

    QCOMPARE(prompts.prompts().size(), std::size_t(asked ? 1 : 0));
    if (asked) QCOMPARE(prompts.prompts().front().defaultAnswer, DefaultAnswer::No);
    QCOMPARE(result, written ? std::optional<QString>(pcx) : std::nullopt);
    QFile file(pcx);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const image::PcxReadResult read = image::readPcx(file.readAll());
    QCOMPARE(read.ok(), written);
    if (written) QCOMPARE(read.image.size(), QSize(20, 10));
}

void ImageDialogTest::anUnreadableImageIsSaidAndNothingWritten() {
    const QString broken = dir_->filePath(QStringLiteral("broken.png"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG\r\n\x1a\n broken");
    file.close();
    image::WrittenFiles record(QString{});
    ScriptedOperatorPrompts prompts;
    QCOMPARE(convertImageForList(broken, prompts, nullptr, record), std::nullopt);
    QCOMPARE(prompts.messages().size(), 1);
    QVERIFY(prompts.messages()[0].startsWith(QStringLiteral("The image ") + broken +
                                             QStringLiteral(" can not be converted: ")));
    QVERIFY(!QFile::exists(dir_->filePath(QStringLiteral("broken.pcx"))));
}

QTEST_MAIN(ImageDialogTest)
#include "image_dialog_test.moc"
