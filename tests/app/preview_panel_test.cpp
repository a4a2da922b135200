// The preview panel shows the newest file's picture and facts, or why it
// cannot show it, and empties on clear().
#include "preview_panel.h"

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include "pcx.h"

using namespace velquin;

class PreviewPanelTest : public QObject {
    Q_OBJECT
private slots:
    void showsTheFileOrWhyNotAndClears();
};

void PreviewPanelTest::showsTheFileOrWhyNotAndClears() {
    QTemporaryDir folder;
    const QString pcx = folder.filePath(QStringLiteral("logo.pcx"));
    QFile file(pcx);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image::writePcx(image::MonoImage(41, 17)));
    file.close();

    PreviewPanel panel;
    panel.show();
    auto* heading = panel.findChild<QLabel*>(QStringLiteral("PreviewHeading"));
    auto* problem = panel.findChild<QLabel*>(QStringLiteral("PreviewProblem"));
    auto* picture = panel.findChild<QLabel*>(QStringLiteral("PreviewPicture"));
    QVERIFY(heading && problem && picture);

    panel.showFile(LoaderMode::ModePCX, pcx);
    QTRY_COMPARE(heading->text(), QStringLiteral("logo.pcx"));
    QCOMPARE(picture->pixmap().size(), QSize(41, 17));
    QVERIFY(!problem->isVisible());

    panel.showFile(LoaderMode::ModePCX, folder.filePath(QStringLiteral("gone.pcx")));
    QTRY_COMPARE(heading->text(), QStringLiteral("gone.pcx"));
    QVERIFY(problem->isVisible());
    QVERIFY(!problem->text().isEmpty());
    QVERIFY(picture->pixmap().isNull());

    panel.clear();
    QVERIFY(heading->text().isEmpty());
    QVERIFY(!problem->isVisible());
}

QTEST_MAIN(PreviewPanelTest)
#include "preview_panel_test.moc"
