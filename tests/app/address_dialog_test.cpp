// The network address dialog on its own: it hands the typed address to
// whoever opened it and shows the result it is told; its boxes.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <vector>

#include "app_test_support.h"
#include "network_address_dialog.h"
#include "simulator.h"

using namespace velquin;

namespace {

void type(QLineEdit* box, const QString& text) {
    box->clear();
    QTest::keyClicks(box, text);
}

}  // namespace

class AddressDialogTest : public QObject {
    Q_OBJECT

private slots:
    void handsTheAddressAndShowsTheResult_data();
    void handsTheAddressAndShowsTheResult();
    void reopeningShowsNoStaleWaitText();
    void closingWhileConnectingAsksBeforeItStops();
    void octetsTakeZeroTo255Only_data();
    void octetsTakeZeroTo255Only();
    void portShowsFiveDigits();
    void searchRunsOnlyWhenAskedAndFillsThePickedPrinter();
    void suggestsTheOwnNetworkAtMostASlash24();
};

void AddressDialogTest::handsTheAddressAndShowsTheResult_data() {
    QTest::addColumn<bool>("connects");
    QTest::addColumn<QString>("waitText");
    QTest::addColumn<QStringList>("messages");
    const QString warning = QStringLiteral("Connect operation may take up to 30 seconds");
    QTest::newRow("connected") << true << "Please wait connecting....." << QStringList{warning};
    QTest::newRow("refused") << false << "Did not connect"
                             << QStringList{warning, "Did Not Find Ethernet Connected printer"};
}

void AddressDialogTest::handsTheAddressAndShowsTheResult() {
    QFETCH(bool, connects);
    QFETCH(QString, waitText);
    QFETCH(QStringList, messages);
    ScriptedOperatorPrompts prompts;
    NetworkAddressDialog dialog(prompts);
    std::optional<NetworkAddress> handed;
    QString textWhileConnecting;
    bool dismissedWhileConnecting = true;
    dialog.setConnector([&](const NetworkAddress& address) {
        handed = address;
        textWhileConnecting = test::control<QLabel>(dialog, "lblWait")->text();
        dialog.reject();
        dismissedWhileConnecting = !dialog.isVisible();
        dialog.showConnectResult(connects);
        dialog.connectFinished();
    });
    QTimer::singleShot(0, &dialog, [&] {
        type(test::control<QLineEdit>(dialog, "txtOctet1"), "127");
        type(test::control<QLineEdit>(dialog, "txtOctet2"), "0");
        type(test::control<QLineEdit>(dialog, "txtOctet3"), "0");
        type(test::control<QLineEdit>(dialog, "txtOctet4"), "1");
        type(test::control<QLineEdit>(dialog, "txtPort"), "9100");
        test::control<QPushButton>(dialog, "cmdCreateSocket")->click();
    });
    dialog.exec();

    QCOMPARE(handed, (NetworkAddress{"127", "0", "0", "1", "9100"}));
    QCOMPARE(textWhileConnecting, QStringLiteral("Please wait connecting....."));
    QVERIFY(!dismissedWhileConnecting);
    QCOMPARE(dialog.connected(), connects);
    QCOMPARE(test::control<QLabel>(dialog, "lblWait")->text(), waitText);
    QCOMPARE(prompts.messages(), messages);
    QVERIFY(dialog.isHidden());
}

void AddressDialogTest::reopeningShowsNoStaleWaitText() {
    ScriptedOperatorPrompts prompts;
    NetworkAddressDialog dialog(prompts);
    dialog.setConnector([&](const NetworkAddress&) {
        dialog.showConnectResult(false);
        dialog.connectFinished();
    });
    QTimer::singleShot(0, &dialog, [&] {
        type(test::control<QLineEdit>(dialog, "txtOctet1"), "127");
        type(test::control<QLineEdit>(dialog, "txtOctet4"), "1");
        test::control<QPushButton>(dialog, "cmdCreateSocket")->click();
    });
    dialog.exec();
    QCOMPARE(test::control<QLabel>(dialog, "lblWait")->text(), QStringLiteral("Did not connect"));

    QString shownOnReopening = QStringLiteral("not shown");
    QTimer::singleShot(0, &dialog, [&] {
        shownOnReopening = test::control<QLabel>(dialog, "lblWait")->text();
        dialog.reject();
    });
    dialog.exec();
    QCOMPARE(shownOnReopening, QString());
    QCOMPARE(test::control<QLineEdit>(dialog, "txtOctet1")->text(), QStringLiteral("127"));
}

void AddressDialogTest::closingWhileConnectingAsksBeforeItStops() {
    ScriptedOperatorPrompts prompts;
    NetworkAddressDialog dialog(prompts);
    int stops = 0;
    int stopsAfterNo = -1;
    dialog.setStopper([&] {
        ++stops;
        dialog.connectFinished();
    });
    dialog.setConnector([&](const NetworkAddress&) {
        dialog.reject();  // answered No: the connect goes on
        stopsAfterNo = stops;
        prompts.answerYesNo(true);
        dialog.reject();
    });
    QTimer::singleShot(0, &dialog, [&] { test::control<QPushButton>(dialog, "cmdCreateSocket")->click(); });
    dialog.exec();

    QCOMPARE(stopsAfterNo, 0);
    QCOMPARE(stops, 1);
    QVERIFY(dialog.isHidden() && !dialog.connecting());
    QCOMPARE(prompts.prompts().size(), std::size_t{3});
    QCOMPARE(prompts.prompts()[1].text,
             QStringLiteral("A connection to the printer is being made: stop it?"));
    QCOMPARE(prompts.prompts()[1].defaultAnswer, DefaultAnswer::No);
}

void AddressDialogTest::octetsTakeZeroTo255Only_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("largest") << "255"
                             << "255";
    QTest::newRow("zero") << "0"
                          << "0";
    QTest::newRow("256") << "256"
                         << "25";
    QTest::newRow("300") << "300"
                         << "30";
    QTest::newRow("four digits") << "1000"
                                 << "100";
    QTest::newRow("letters") << "1a2."
                             << "12";
}

void AddressDialogTest::octetsTakeZeroTo255Only() {
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    ScriptedOperatorPrompts prompts;
    NetworkAddressDialog dialog(prompts);
    for (QLineEdit* box :
         {test::control<QLineEdit>(dialog, "txtOctet1"), test::control<QLineEdit>(dialog, "txtOctet2"),
          test::control<QLineEdit>(dialog, "txtOctet3"), test::control<QLineEdit>(dialog, "txtOctet4")}) {
        type(box, typed);
        QCOMPARE(box->text(), kept);
    }
    QCOMPARE(dialog.Octet4, kept);
}

// The whole of "65535" is in view: the end of the text is where the box
// draws it with nothing scrolled away at its start.
void AddressDialogTest::portShowsFiveDigits() {
    ScriptedOperatorPrompts prompts;
    NetworkAddressDialog dialog(prompts);
    dialog.show();
    QLineEdit* port = test::control<QLineEdit>(dialog, "txtPort");
    port->setText(QStringLiteral("65535"));
    const auto cursorX = [port](int position) {
        port->setCursorPosition(position);
        return port->inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
    };
    const int end = cursorX(5);
    const int start = cursorX(0);
    QVERIFY(qAbs(end - start - port->fontMetrics().horizontalAdvance(QStringLiteral("65535"))) <= 1);
    QVERIFY(end < port->width());
}

void AddressDialogTest::searchRunsOnlyWhenAskedAndFillsThePickedPrinter() {
    test::PrivateEnvironment environment;
    printersim::PrinterConfig config;
    config.identity = "MFG:Ticket printer;CMD:KTL;MDL:RVA 300;FWV:2.10;";
    std::vector<std::unique_ptr<printersim::Simulator>> printers;
    std::uint16_t port = 0;
    for (const char* address : {"127.0.0.50", "127.0.0.53"}) {
        printers.push_back(std::make_unique<printersim::Simulator>(config));
        port = printers.back()->listenTcp(port, address);
    }
    ScriptedOperatorPrompts prompts;
    NetworkAddressDialog dialog(prompts);
    dialog.setSearchProgram(QStringLiteral(VELQUIN_LOAD_PATH));
    dialog.show();
    QVERIFY(!dialog.searching());
    auto* found = test::control<QListWidget>(dialog, "lstFoundPrinters");
    auto* result = test::control<QLabel>(dialog, "lblSearchResult");
    auto search = [&](const QString& range) {
        type(test::control<QLineEdit>(dialog, "txtSearchRange"), range);
        test::control<QPushButton>(dialog, "cmdSearch")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.searching(), 20'000);
    };
    type(test::control<QLineEdit>(dialog, "txtPort"), QString::number(port));

    search(QStringLiteral("127.0.0.0/33"));
    QVERIFY2(result->text().contains(QStringLiteral("bad range")), qPrintable(result->text()));
    search(QStringLiteral("127.0.0.48/29"));
    QCOMPARE(found->count(), 2);
    QVERIFY2(found->item(1)->text().startsWith(QStringLiteral("127.0.0.53:%1").arg(port)),
             qPrintable(found->item(1)->text()));
    found->setCurrentRow(1);
    QCOMPARE(dialog.address(), (NetworkAddress{"127", "0", "0", "53", QString::number(port)}));
}

void AddressDialogTest::suggestsTheOwnNetworkAtMostASlash24() {
    auto entry = [](const char* address, int prefix) {
        QNetworkAddressEntry result;
        result.setIp(QHostAddress(QLatin1String(address)));
        result.setPrefixLength(prefix);
        return result;
    };
    QCOMPARE(suggestedSearchRange({entry("127.0.0.1", 8), entry("10.20.30.40", 16)}),
             QStringLiteral("10.20.30.0/24"));
    QCOMPARE(suggestedSearchRange({entry("192.168.7.130", 25)}), QStringLiteral("192.168.7.128/25"));
    QCOMPARE(suggestedSearchRange({entry("::1", 128)}), QString());
}

VELQUIN_QTEST_MAIN(AddressDialogTest)
#include "address_dialog_test.moc"
