// The main window under a larger system font (QT_FONT_DPI=132): the classic
// area grows evenly so that no caption is clipped, and keeps its
// arrangement. At the normal font the window test holds it at 965 x 715.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTest>

#include "app_test_support.h"
#include "caption_fit.h"

using namespace velquin;

class LargeFontTest : public QObject {
    Q_OBJECT

private slots:
    void everyCaptionFitsInEveryMode();
    void theAreaGrowsEvenlyWithoutOverlaps();

private:
    QTemporaryDir dir_;
};

void LargeFontTest::everyCaptionFitsInEveryMode() {
    test::WindowHarness harness(QStringLiteral(FAKE_MORLIX_PATH), dir_.path());
    QVERIFY(harness.start());
    MainWindow& window = *harness.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const LoaderMode mode :
         {LoaderMode::ModeTTF, LoaderMode::ModeSF, LoaderMode::ModePCX, LoaderMode::ModeBMP}) {
        window.selectMode(mode);
        window.SetCaptions();
        QStringList clipped;
        for (const QWidget* control : window.findChildren<QWidget*>()) {
            const bool captioned = qobject_cast<const QAbstractButton*>(control) ||
                                   qobject_cast<const QLabel*>(control) ||
                                   qobject_cast<const QGroupBox*>(control);
            if (captioned && control->isVisibleTo(&window) && captionOverflow(*control) > 0)
                clipped << control->metaObject()->className() + QStringLiteral(" ") + control->objectName();
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral(", "))));
    }
}

void LargeFontTest::theAreaGrowsEvenlyWithoutOverlaps() {
    test::WindowHarness harness(QStringLiteral(FAKE_MORLIX_PATH), dir_.path());
    const QWidget& area = *harness.window->classicArea();
    QVERIFY(area.width() > 965);
    QVERIFY(qAbs(static_cast<double>(area.width()) / area.height() - 965.0 / 715.0) < 0.01);
    // Side by side as before: within each frame (and the area) the controls
    // stay inside their parent and clear of each other.
    QList<const QWidget*> parents{&area};
    for (const QWidget* frame : area.findChildren<QGroupBox*>()) parents << frame;
    for (const QWidget* parent : parents) {
        QList<QWidget*> placed = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        // Cancel shows over the progress caption only during a wait.
        placed.removeIf([](const QWidget* control) { return control->isHidden(); });
        for (qsizetype i = 0; i < placed.size(); ++i) {
            QVERIFY2(parent->rect().contains(placed[i]->geometry()), qPrintable(placed[i]->objectName()));
            for (qsizetype j = i + 1; j < placed.size(); ++j)
                QVERIFY2(
                    !placed[i]->geometry().intersects(placed[j]->geometry()),
                    qPrintable(placed[i]->objectName() + QStringLiteral(" / ") + placed[j]->objectName()));
        }
    }
}

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The font DPI counts only where Qt does not scale the whole screen.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qputenv("QT_FONT_DPI", "132");
    QApplication application(argc, argv);
    LargeFontTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "large_font_test.moc"
