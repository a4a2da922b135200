#include "network_address_dialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "main_window.h"
#include "operator_prompts.h"
#include "printer_discovery.h"

namespace velquin {

namespace {

constexpr int BOX_WIDTH = 615 / TWIPS_PER_PIXEL;
constexpr int BOX_HEIGHT = 375 / TWIPS_PER_PIXEL;
constexpr int OCTET_ROW_Y = 56;
constexpr int PORT_ROW_Y = 124;

QLineEdit* makeBox(QWidget* parent, int leftTwips, int y) {
    auto* box = new QLineEdit(parent);
    box->setGeometry(twipsToPixels(leftTwips), y, BOX_WIDTH, BOX_HEIGHT);
    return box;
}

QLabel* makeLabel(const QString& caption, QWidget* parent, int x, int y, int width) {
    auto* label = new QLabel(caption, parent);
    label->setGeometry(x, y, width, 18);
    return label;
}

}  // namespace

NetworkAddressDialog::NetworkAddressDialog(MainWindow& mainWindow) : QDialog(&mainWindow), main_(mainWindow) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Set IP Address"));
    setFixedSize(twipsToPixels(FORM1_CLIENT_WIDTH_TWIPS), twipsToPixels(FORM1_CLIENT_HEIGHT_TWIPS));
    setModal(true);

    Label1 = makeLabel(QStringLiteral("IP Address"), this, twipsToPixels(1'200), OCTET_ROW_Y - 22, 120);
    txtOctet1 = makeBox(this, 1'200, OCTET_ROW_Y);
    Label3 = makeLabel(QStringLiteral("-"), this, twipsToPixels(1'200) + BOX_WIDTH + 9, OCTET_ROW_Y + 3, 8);
    txtOctet2 = makeBox(this, 2'160, OCTET_ROW_Y);
    Label4 = makeLabel(QStringLiteral("-"), this, twipsToPixels(2'160) + BOX_WIDTH + 9, OCTET_ROW_Y + 3, 8);
    txtOctet3 = makeBox(this, 3'120, OCTET_ROW_Y);
    Label5 = makeLabel(QStringLiteral("-"), this, twipsToPixels(3'120) + BOX_WIDTH + 9, OCTET_ROW_Y + 3, 8);
    txtOctet4 = makeBox(this, 4'080, OCTET_ROW_Y);
    Label2 = makeLabel(QStringLiteral("Port Number"), this, twipsToPixels(1'200), PORT_ROW_Y - 22, 120);
    txtPort = makeBox(this, 1'200, PORT_ROW_Y);
    cmdCreateSocket = new QPushButton(QStringLiteral("Connect"), this);
    cmdCreateSocket->setGeometry(twipsToPixels(2'160), PORT_ROW_Y - 3, 110, BOX_HEIGHT + 6);
    cmdCreateSocket->setAutoDefault(false);
    lblWait = makeLabel(QString(), this, twipsToPixels(1'200), 168, twipsToPixels(3'495));

    setTabOrder(txtOctet1, txtOctet2);
    setTabOrder(txtOctet2, txtOctet3);
    setTabOrder(txtOctet3, txtOctet4);
    setTabOrder(txtOctet4, txtPort);
    setTabOrder(txtPort, cmdCreateSocket);

    // Each box's whole text goes into its variable as it changes, unchecked.
    connect(txtOctet1, &QLineEdit::textChanged, this, [this](const QString& text) { Octet1 = text; });
    connect(txtOctet2, &QLineEdit::textChanged, this, [this](const QString& text) { Octet2 = text; });
    connect(txtOctet3, &QLineEdit::textChanged, this, [this](const QString& text) { Octet3 = text; });
    connect(txtOctet4, &QLineEdit::textChanged, this, [this](const QString& text) { Octet4 = text; });
    connect(txtPort, &QLineEdit::textChanged, this, [this](const QString& text) { PortNumber = text; });
    connect(cmdCreateSocket, &QPushButton::clicked, this, &NetworkAddressDialog::cmdCreateSocket_Click);

    Form_Load();
}

void NetworkAddressDialog::Form_Load() {
    Octet1 = QStringLiteral("192");
    Octet2 = QStringLiteral("168");
    Octet3 = QStringLiteral("0");
    Octet4 = QStringLiteral("1");
    PortNumber = QStringLiteral("10001");
    txtOctet1->setText(Octet1);
    txtOctet2->setText(Octet2);
    txtOctet3->setText(Octet3);
    txtOctet4->setText(Octet4);
    txtPort->setText(PortNumber);
}

int NetworkAddressDialog::exec() {
    connected_ = false;
    return QDialog::exec();
}

void NetworkAddressDialog::reject() {
    if (!connecting_) QDialog::reject();
}

void NetworkAddressDialog::cmdCreateSocket_Click() {
    if (connecting_) return;
    connecting_ = true;
    cmdCreateSocket->setEnabled(false);

    main_.CD.message(QStringLiteral("Connect operation may take up to 30 seconds"),
                     QStringLiteral("Connect to Ethernet Printer"));
    lblWait->setText(QStringLiteral("Please wait connecting....."));
    QCoreApplication::processEvents();

    PrinterDiscovery& discovery = main_.discovery();
    const ConnectOutcome outcome =
        discovery.connectEthernet(Octet1.toLocal8Bit(), Octet2.toLocal8Bit(), Octet3.toLocal8Bit(),
                                  Octet4.toLocal8Bit(), PortNumber.toLocal8Bit(), connectTimeLimitMs_);
    connected_ = outcome.result == ConnectOutcome::Result::Connected;
    if (outcome.result != ConnectOutcome::Result::LibraryMissing) {
        if (!connected_) {
            lblWait->setText(QStringLiteral("Did not connect"));
            QCoreApplication::processEvents();
            main_.CD.message(QStringLiteral("Did Not Find Ethernet Connected printer"), APPLICATION_TITLE);
        }
        discovery.adoptConnection(outcome);
    }

    connecting_ = false;
    cmdCreateSocket->setEnabled(true);
    hide();
    QCoreApplication::processEvents();
}

}  // namespace velquin
