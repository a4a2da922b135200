// The pure pieces of the printer panel and the printer I/O: display texts,
// judgements, number formats, the flash reply and the lenient number reader.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>

#include "app_test_support.h"
#include "file_list.h"
#include "morlix_library.h"
#include "printer_facts.h"
#include "printer_finder.h"
#include "printer_io.h"
#include "qt_operator_prompts.h"

using namespace velquin;

class FactsTest : public QObject {
    Q_OBJECT

private slots:
    void displayTexts_data();
    void displayTexts();
    void judgementsDependOnTheLink();
    void versionBoundaries();
    void theVerdictGivesOneReasonPerFailingFact();
    void aFinderKeepsItsPrinterLocksUntilReleased();
    void groupedNumbers_data();
    void groupedNumbers();
    void versionCaptionFollowsTheLocale();
    void flashReplyField_data();
    void flashReplyField();
    void fileFiltersMatchEitherCase();
    void openedListFileNameTakesTheDefaultExtension();
    void boxesAreWideEnoughForTheirTitles();
};

void FactsTest::displayTexts_data() {
    QTest::addColumn<int>("kind");  // 0 port, 1 logic board, 2 printer type, 3 model
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const QList<QStringList> table = {
        {"Port Type = USB", "Port Type = Parallel", "Port Type = Serial", "Port Type = Ethernet",
         "Port Type = Unknown"},
        {"Hardware = LOGIC BD I", "Hardware = LOGIC BD II", "Hardware = MXR PLUS", "", ""},
        {"Language = G", "Language = KTL", "Language = RASTER", "Language = NOT FOUND", ""},
        {"Printer type = RVA", "Printer type = RVB", "Printer type = RVC",
         "Printer type = Unknown printer model", ""},
    };
    for (int kind = 0; kind < table.size(); ++kind) {
        for (int code = -1; code <= 5; ++code) {
            const QString text = code >= 0 && code < 5 ? table[kind][code] : QString();
            QTest::addRow("kind%d code%d", kind, code) << kind << code << text;
        }
    }
}

void FactsTest::displayTexts() {
    QFETCH(int, kind);
    QFETCH(int, code);
    QFETCH(QString, text);
    const QString shown = kind == 0   ? GetPortType(code)
                          : kind == 1 ? GetLogicBoardType(code)
                          : kind == 2 ? GetPrinterType(code)
                                      : GetPrinterModel(code);
    QCOMPARE(shown, text);
}

void FactsTest::judgementsDependOnTheLink() {
    // A local printer must have the MXR PLUS board; a network one board II.
    QVERIFY(logicBoardAcceptable(2, PrinterLink::Local));
    QVERIFY(!logicBoardAcceptable(1, PrinterLink::Local));
    QVERIFY(logicBoardAcceptable(1, PrinterLink::Network));
    QVERIFY(!logicBoardAcceptable(2, PrinterLink::Network));
    QVERIFY(!logicBoardAcceptable(0, PrinterLink::Network));
    for (int port : {0, 1}) QVERIFY(portTypeAcceptable(port, PrinterLink::Local));
    for (int port : {2, 3, 4}) QVERIFY(!portTypeAcceptable(port, PrinterLink::Local));
    QVERIFY(portTypeAcceptable(4, PrinterLink::Network));
    QVERIFY(printerTypeAcceptable(1));
    for (int type : {0, 2, 3}) QVERIFY(!printerTypeAcceptable(type));
    for (int model : {0, 1}) QVERIFY(printerModelAcceptable(model));
    for (int model : {2, 3, -1}) QVERIFY(!printerModelAcceptable(model));
}

void FactsTest::versionBoundaries() {
    // The versions arrive as 4-byte floats; the limits themselves pass.
    QVERIFY(firmwareVersionAcceptable(5.0f, PrinterLink::Local));
    QVERIFY(!firmwareVersionAcceptable(4.99f, PrinterLink::Local));
    QVERIFY(firmwareVersionAcceptable(2.05f, PrinterLink::Network));
    QVERIFY(!firmwareVersionAcceptable(2.04f, PrinterLink::Network));
    QVERIFY(firmwareVersionAcceptable(2.1f, PrinterLink::Network));
    QVERIFY(!firmwareVersionAcceptable(2.1f, PrinterLink::Local));
}

void FactsTest::theVerdictGivesOneReasonPerFailingFact() {
    // Board II, language G, model RVC, firmware 2.10: four facts fail locally, two on the network.
    PrinterFacts facts{PrinterLink::Local, 0, 1, 0, 2, 2.1f};
    QCOMPARE(facts.unsuitability(),
             (QStringList{"logic board LOGIC BD II", "command language G", "model RVC", "firmware 2.10"}));
    facts.link = PrinterLink::Network;
    QCOMPARE(facts.unsuitability(), (QStringList{"command language G", "model RVC"}));
    QVERIFY((PrinterFacts{PrinterLink::Local, 1, 2, 1, 1, 5.0f}).unsuitability().isEmpty());
}

void FactsTest::aFinderKeepsItsPrinterLocksUntilReleased() {
    MorlixLibrary library;
    PrinterFinder holder(library);
    PrinterFinder other(library);
    const QString key = PrinterLock::networkKey(QStringLiteral("127.0.0.1"), 9171);
    QVERIFY(!holder.claim(key));
    QVERIFY(!holder.claim(key));  // granted again to the finder that holds it
    const std::optional<PrinterLock::Attempt> refusal = other.claim(key);
    QVERIFY(refusal && !refusal->lock);
    QCOMPARE(refusal->holderPid, QCoreApplication::applicationPid());
    holder.release(key);
    QVERIFY(!other.claim(key));
}

void FactsTest::groupedNumbers_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("C zero") << "C" << qint64(0) << "0";
    QTest::newRow("C three digits") << "C" << qint64(999) << "999";
    QTest::newRow("C demo flash") << "C" << qint64(5'000'000) << "5,000,000";
    QTest::newRow("C negative") << "C" << qint64(-1'234) << "-1,234";
    QTest::newRow("en_US") << "en_US" << qint64(2'097'152) << "2,097,152";
    QTest::newRow("de_DE") << "de_DE" << qint64(2'097'152) << "2.097.152";
    QTest::newRow("fr_FR") << "fr_FR" << qint64(1'024) << QString(QStringLiteral("1\u202F024"));
}

void FactsTest::groupedNumbers() {
    QFETCH(QString, locale);
    QFETCH(qint64, value);
    QFETCH(QString, text);
    const QLocale saved;
    QLocale::setDefault(QLocale(locale));
    const QString shown = formatGrouped(value);
    QLocale::setDefault(saved);
    QCOMPARE(shown, text);
}

void FactsTest::versionCaptionFollowsTheLocale() {
    const QLocale saved;
    QLocale::setDefault(QLocale::c());
    QCOMPARE(versionCaption(5.03f), QStringLiteral("(V5.03)"));
    QCOMPARE(versionCaption(4.99f), QStringLiteral("(V4.99)"));
    QCOMPARE(versionCaption(5.0f), QStringLiteral("(V5)"));
    QCOMPARE(versionCaption(2.1f), QStringLiteral("(V2.1)"));
    QCOMPARE(versionCaption(0.0f), QStringLiteral("(V0)"));
    QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    QCOMPARE(versionCaption(5.03f), QStringLiteral("(V5,03)"));
    QCOMPARE(versionCaption(1234.5f), QStringLiteral("(V1234,5)"));
    QLocale::setDefault(saved);
}

void FactsTest::flashReplyField_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("matches");
    QTest::addColumn<qint64>("value");
    QTest::newRow("eight digits") << QByteArray("A070800123456") << true << qint64(123'456);
    QTest::newRow("zeros") << QByteArray("A070800000000") << true << qint64(0);
    QTest::newRow("trailing bytes ignored") << QByteArray("A07081234567899999") << true << qint64(12'345'678);
    QTest::newRow("short field") << QByteArray("A0708042") << true << qint64(42);
    QTest::newRow("blanks inside") << QByteArray("A0708 1 2 3xx9") << true << qint64(123);
    QTest::newRow("negative") << QByteArray("A0708-0000123") << true << qint64(-123);
    QTest::newRow("letters") << QByteArray("A0708ABCDEFGH") << true << qint64(0);
    QTest::newRow("other key") << QByteArray("X070800123456") << false << qint64(0);
    QTest::newRow("too short") << QByteArray("A070") << false << qint64(0);
    QTest::newRow("empty") << QByteArray() << false << qint64(0);
}

void FactsTest::flashReplyField() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, matches);
    QFETCH(qint64, value);
    const auto field = velquin::flashReplyField(reinterpret_cast<const std::uint8_t*>(reply.constData()),
                                                static_cast<std::size_t>(reply.size()));
    QCOMPARE(field.has_value(), matches);
    QCOMPARE(lenientDecimal(field.value_or(QByteArray())), value);
}

void FactsTest::fileFiltersMatchEitherCase() {
    QCOMPARE(qtFileFilter(QStringLiteral("True Type Font FILE *.TTF | *.TTF|Open Type Fonts *.OTF|*.OTF")),
             QStringLiteral("True Type Font FILE *.TTF (*.TTF *.ttf);;Open Type Fonts *.OTF (*.OTF *.otf)"));
    QCOMPARE(qtFileFilter(QStringLiteral("HP SOFT FONT FILE *.SFP | *.SFP")),
             QStringLiteral("HP SOFT FONT FILE *.SFP (*.SFP *.sfp)"));
}

void FactsTest::openedListFileNameTakesTheDefaultExtension() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString listFile = dir.filePath(QStringLiteral("monday.TFL"));
    QFile file(listFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    // The operator types the list's name without its extension and presses Open.
    bool typed = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        dialog->setDirectory(dir.path());
        dialog->selectFile(QStringLiteral("monday"));
        typed = true;
        // A name the dialog refuses leaves it open behind its warning: give up.
        QTimer::singleShot(500, dialog, [dialog] {
            if (QWidget* warning = QApplication::activeModalWidget(); warning != dialog) warning->close();
            dialog->reject();
        });
        static_cast<QDialog*>(dialog)->accept();
    });
    QtOperatorPrompts prompts;
    const std::optional<QString> chosen = prompts.openFileName(openListDialog(LoaderMode::ModeTTF));
    QVERIFY(typed);
    QCOMPARE(chosen.value_or(QString()), listFile);
}

void FactsTest::boxesAreWideEnoughForTheirTitles() {
    const QString title =
        QStringLiteral("Quenrik Font\\Image Loader V2.16_1 03/29/2016 (True Type Fonts Mode)");
    QtOperatorPrompts prompts;
    for (bool question : {false, true}) {
        int boxWidth = 0;
        int titleWidth = 0;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (box == nullptr) return;
            boxWidth = box->sizeHint().width();
            titleWidth = box->fontMetrics().horizontalAdvance(title);
            box->close();
        });
        if (question)
            prompts.askYesNo(QStringLiteral("Go?"), title, DefaultAnswer::No);
        else
            prompts.message(QStringLiteral("Done."), title, MessageIcon::None);
        QVERIFY(titleWidth > 0);
        QVERIFY2(boxWidth > titleWidth, qPrintable(QStringLiteral("%1 <= %2").arg(boxWidth).arg(titleWidth)));
    }
}

VELQUIN_QTEST_MAIN(FactsTest)
#include "facts_test.moc"
