// The network address dialog: four address octets and a TCP port, typed by
// the operator, and "Connect". It hands the address to whoever opened it,
// which connects and tells the dialog the result. It keeps the texts typed
// last, since it is hidden, not destroyed, after use.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "network_search.h"
#include "printer_discovery.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace velquin {

class OperatorPrompts;

inline constexpr int FORM1_CLIENT_WIDTH_TWIPS = 5'970;
inline constexpr int FORM1_CLIENT_HEIGHT_TWIPS = 3'015;
// Below the classic area: the range to search, "Search", and the printers found.
inline constexpr int SEARCH_AREA_HEIGHT = 196;
// The longest the window may stand still while connecting; the operator is
// told so before the attempt.
inline constexpr int CONNECT_TIME_LIMIT_MS = 30'000;

class NetworkAddressDialog : public QDialog {
    Q_OBJECT

public:
    // Starts the connect to the typed address; when there was an attempt it
    // reports through showConnectResult, and its end through connectFinished.
    using Connector = std::function<void(const NetworkAddress&)>;

    explicit NetworkAddressDialog(OperatorPrompts& prompts, QWidget* parent = nullptr);

    void setConnector(Connector connector) { connector_ = std::move(connector); }
    // Stops the connect under way, when the operator closes the dialog.
    void setStopper(std::function<void()> stopper) { stopper_ = std::move(stopper); }
    // The five texts as typed.
    NetworkAddress address() const { return {Octet1, Octet2, Octet3, Octet4, PortNumber}; }
    // The connect's result: a failure shows "Did not connect" and tells the
    // operator.
    void showConnectResult(bool connected);
    // The connect has ended (or was given up): the dialog hides.
    void connectFinished();

    // The texts the connection uses, copied from the boxes as they change.
    QString Octet1;
    QString Octet2;
    QString Octet3;
    QString Octet4;
    QString PortNumber;

    // True when the last "Connect" connected.
    bool connected() const { return connected_; }
    bool connecting() const { return connecting_; }
    int connectTimeLimit() const { return connectTimeLimitMs_; }
    void setConnectTimeLimit(int milliseconds) { connectTimeLimitMs_ = milliseconds; }

    // Shows the dialog modally; a new showing starts unconnected, with no
    // progress text left from the last one.
    int exec() override;

    // The search: the program it runs (velquin-load beside this one unless
    // set), and whether one is running.
    void setSearchProgram(const QString& path) { search_.setProgram(path); }
    bool searching() const { return search_.running(); }

public slots:
    void connectToAddress();
    // Searches the typed range on the typed port; runs only when asked.
    void searchRange();
    // Puts the picked printer's address and port in the boxes.
    void pickFoundPrinter(int row);
    // While a connection attempt runs, the dialog asks before it stops it.
    void reject() override;

private:
    void Form_Load();

    // The controls; each has its name as its object name, which tests and
    // automation find it by.
    QLabel* Label1;
    QLineEdit* txtOctet1;
    QLabel* Label3;
    QLineEdit* txtOctet2;
    QLabel* Label4;
    QLineEdit* txtOctet3;
    QLabel* Label5;
    QLineEdit* txtOctet4;
    QLabel* Label2;
    QLineEdit* txtPort;
    QPushButton* cmdCreateSocket;
    QLabel* lblWait;
    QLabel* lblSearchRange;
    QLineEdit* txtSearchRange;
    QPushButton* cmdSearch;
    QLabel* lblSearchResult;
    QListWidget* lstFoundPrinters;

    OperatorPrompts& prompts_;
    NetworkSearch search_;
    QList<FoundPrinter> found_;
    Connector connector_;
    std::function<void()> stopper_;
    bool connected_ = false;
    bool connecting_ = false;
    int connectTimeLimitMs_ = CONNECT_TIME_LIMIT_MS;
};

}  // namespace velquin
