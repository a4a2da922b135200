#include "network_address_dialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <algorithm>

#include "main_window.h"
#include "operator_prompts.h"

namespace velquin {

namespace {

constexpr int BOX_WIDTH = 615 / TWIPS_PER_PIXEL;
constexpr int BOX_HEIGHT = 375 / TWIPS_PER_PIXEL;
constexpr int OCTET_ROW_Y = 56;
constexpr int PORT_ROW_Y = 124;
// Room beside a line edit's text: the style's frame and Qt's own margin.
constexpr int LINE_EDIT_TEXT_MARGIN = 2;

QLineEdit* makeBox(QWidget* parent, int leftTwips, int y) {
    auto* box = new QLineEdit(parent);
    box->setGeometry(twipsToPixels(leftTwips), y, BOX_WIDTH, BOX_HEIGHT);
    return box;
}

// An octet box takes 0 to 255 only, centred so the row reads as an address.
QLineEdit* makeOctetBox(QWidget* parent, int leftTwips) {
    QLineEdit* box = makeBox(parent, leftTwips, OCTET_ROW_Y);
    static const QRegularExpression octet(QStringLiteral("(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])?"));
    box->setValidator(new QRegularExpressionValidator(octet, box));
    box->setAlignment(Qt::AlignCenter);
    return box;
}

QLabel* makeLabel(const QString& caption, QWidget* parent, int x, int y, int width) {
    auto* label = new QLabel(caption, parent);
    label->setGeometry(x, y, width, 18);
    return label;
}

// The separator between two octet boxes, centred in the gap after `leftTwips`'s box.
QLabel* makeDot(QWidget* parent, int leftTwips) {
    const int gapStart = twipsToPixels(leftTwips) + BOX_WIDTH;
    QLabel* dot = makeLabel(QStringLiteral("-"), parent, gapStart, OCTET_ROW_Y + 3,
                            twipsToPixels(leftTwips + 960) - gapStart);
    dot->setAlignment(Qt::AlignCenter);
    return dot;
}

}  // namespace

NetworkAddressDialog::NetworkAddressDialog(OperatorPrompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Set IP Address"));
    const int classicHeight = twipsToPixels(FORM1_CLIENT_HEIGHT_TWIPS);
    setFixedSize(twipsToPixels(FORM1_CLIENT_WIDTH_TWIPS), classicHeight + SEARCH_AREA_HEIGHT);
    setModal(true);

    Label1 = makeLabel(QStringLiteral("IP Address"), this, twipsToPixels(1'200), OCTET_ROW_Y - 22, 120);
    txtOctet1 = makeOctetBox(this, 1'200);
    Label3 = makeDot(this, 1'200);
    txtOctet2 = makeOctetBox(this, 2'160);
    Label4 = makeDot(this, 2'160);
    txtOctet3 = makeOctetBox(this, 3'120);
    Label5 = makeDot(this, 3'120);
    txtOctet4 = makeOctetBox(this, 4'080);
    Label2 = makeLabel(QStringLiteral("Port Number"), this, twipsToPixels(1'200), PORT_ROW_Y - 22, 120);
    txtPort = makeBox(this, 1'200, PORT_ROW_Y);
    // Wide enough for any port's five digits.
    const int frame = txtPort->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, txtPort);
    txtPort->setFixedWidth(
        std::max(BOX_WIDTH, txtPort->fontMetrics().horizontalAdvance(QStringLiteral("00000")) +
                                2 * (frame + LINE_EDIT_TEXT_MARGIN) + 4));
    txtPort->setMaxLength(5);
    cmdCreateSocket = new QPushButton(QStringLiteral("Connect"), this);
    cmdCreateSocket->setGeometry(std::max(twipsToPixels(2'160), txtPort->geometry().right() + 12),
                                 PORT_ROW_Y - 3, 110, BOX_HEIGHT + 6);
    cmdCreateSocket->setAutoDefault(false);
    lblWait = makeLabel(QString(), this, twipsToPixels(1'200), 168, twipsToPixels(3'495));

    // The search, below the classic area: it suggests the operator's own
    // network and runs only when "Search" is pressed.
    const int left = twipsToPixels(1'200) / 2;
    const int searchWidth = width() - 2 * left;
    lblSearchRange =
        makeLabel(QStringLiteral("Search for printers in"), this, left, classicHeight, searchWidth);
    txtSearchRange = new QLineEdit(suggestedSearchRange(), this);
    txtSearchRange->setPlaceholderText(QStringLiteral("A.B.C.D/N"));
    txtSearchRange->setGeometry(left, classicHeight + 20, searchWidth - 110 - 8, BOX_HEIGHT + 4);
    cmdSearch = new QPushButton(QStringLiteral("Search"), this);
    cmdSearch->setGeometry(left + searchWidth - 110, classicHeight + 18, 110, BOX_HEIGHT + 8);
    cmdSearch->setAutoDefault(false);
    lblSearchResult = makeLabel(QString(), this, left, classicHeight + 50, searchWidth);
    lstFoundPrinters = new QListWidget(this);
    lstFoundPrinters->setGeometry(left, classicHeight + 70, searchWidth, SEARCH_AREA_HEIGHT - 80);
    connect(cmdSearch, &QPushButton::clicked, this, &NetworkAddressDialog::searchRange);
    connect(lstFoundPrinters, &QListWidget::currentRowChanged, this, &NetworkAddressDialog::pickFoundPrinter);
    connect(&search_, &NetworkSearch::finished, this,
            [this](const QList<FoundPrinter>& printers, const QString& error) {
                found_ = printers;
                lstFoundPrinters->clear();
                for (const FoundPrinter& printer : printers) lstFoundPrinters->addItem(printer.caption);
                lblSearchResult->setText(
                    !error.isEmpty() ? error
                    : printers.isEmpty()
                        ? QStringLiteral("No printer found")
                        : QStringLiteral("%1 printer(s) found: pick one").arg(printers.size()));
                cmdSearch->setEnabled(true);
            });

    setTabOrder(txtOctet1, txtOctet2);
    setTabOrder(txtOctet2, txtOctet3);
    setTabOrder(txtOctet3, txtOctet4);
    setTabOrder(txtOctet4, txtPort);
    setTabOrder(txtPort, cmdCreateSocket);
    setTabOrder(cmdCreateSocket, txtSearchRange);
    setTabOrder(txtSearchRange, cmdSearch);
    setTabOrder(cmdSearch, lstFoundPrinters);

    // Each box's whole text goes into its variable as it changes.
    connect(txtOctet1, &QLineEdit::textChanged, this, [this](const QString& text) { Octet1 = text; });
    connect(txtOctet2, &QLineEdit::textChanged, this, [this](const QString& text) { Octet2 = text; });
    connect(txtOctet3, &QLineEdit::textChanged, this, [this](const QString& text) { Octet3 = text; });
    connect(txtOctet4, &QLineEdit::textChanged, this, [this](const QString& text) { Octet4 = text; });
    connect(txtPort, &QLineEdit::textChanged, this, [this](const QString& text) { PortNumber = text; });
    connect(cmdCreateSocket, &QPushButton::clicked, this, &NetworkAddressDialog::connectToAddress);

    Form_Load();
    const std::initializer_list<std::pair<QObject*, const char*>> controls = {
        {Label1, "Label1"},
        {txtOctet1, "txtOctet1"},
        {Label3, "Label3"},
        {txtOctet2, "txtOctet2"},
        {Label4, "Label4"},
        {txtOctet3, "txtOctet3"},
        {Label5, "Label5"},
        {txtOctet4, "txtOctet4"},
        {Label2, "Label2"},
        {txtPort, "txtPort"},
        {cmdCreateSocket, "cmdCreateSocket"},
        {lblWait, "lblWait"},
        {lblSearchRange, "lblSearchRange"},
        {txtSearchRange, "txtSearchRange"},
        {cmdSearch, "cmdSearch"},
        {lblSearchResult, "lblSearchResult"},
        {lstFoundPrinters, "lstFoundPrinters"}};
    for (const auto& [control, name] : controls) control->setObjectName(QLatin1String(name));
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
    lblWait->clear();
    return QDialog::exec();
}

void NetworkAddressDialog::searchRange() {
    if (search_.running()) return;
    cmdSearch->setEnabled(false);
    lstFoundPrinters->clear();
    found_.clear();
    lblSearchResult->setText(
        QStringLiteral("Searching %1 on port %2 ...").arg(txtSearchRange->text(), PortNumber));
    search_.start(txtSearchRange->text().trimmed(), PortNumber);
}

void NetworkAddressDialog::pickFoundPrinter(int row) {
    if (row < 0 || row >= found_.size()) return;
    const FoundPrinter& printer = found_[row];
    const QStringList octets = printer.address.split(QLatin1Char('.'));
    if (octets.size() != 4) return;
    txtOctet1->setText(octets[0]);
    txtOctet2->setText(octets[1]);
    txtOctet3->setText(octets[2]);
    txtOctet4->setText(octets[3]);
    txtPort->setText(printer.port);
}

void NetworkAddressDialog::reject() {
    if (!connecting_) {
        QDialog::reject();
        return;
    }
    if (prompts_.askYesNo(QStringLiteral("A connection to the printer is being made: stop it?"),
                          QStringLiteral("Connect to Ethernet Printer"), DefaultAnswer::No) &&
        connecting_ && stopper_)
        stopper_();
}

void NetworkAddressDialog::connectToAddress() {
    if (connecting_) return;
    connecting_ = true;
    cmdCreateSocket->setEnabled(false);

    prompts_.message(QStringLiteral("Connect operation may take up to 30 seconds"),
                     QStringLiteral("Connect to Ethernet Printer"));
    lblWait->setText(QStringLiteral("Please wait connecting....."));

    connected_ = false;
    if (connector_) {
        connector_(address());
    } else {
        connectFinished();
    }
}

void NetworkAddressDialog::connectFinished() {
    connecting_ = false;
    cmdCreateSocket->setEnabled(true);
    hide();
}

void NetworkAddressDialog::showConnectResult(bool connected) {
    connected_ = connected;
    if (connected) return;
    lblWait->setText(QStringLiteral("Did not connect"));
    prompts_.message(QStringLiteral("Did Not Find Ethernet Connected printer"), APPLICATION_TITLE);
}

}  // namespace velquin
