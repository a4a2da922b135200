// What the ledger records about a printer: the loads sent to it and the
// erases of its font space, as plain values the front ends show.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>

#include "printer_identity.h"

namespace velquin::ledger {

enum class LoadMode { TrueType, SoftFont, Pcx, Bmp };

// How a load or an erase ended, as far as the printer let us know.
enum class Outcome {
    Confirmed,     // sent, and the printer reported the end of its flash write
    NotConfirmed,  // sent (or partly sent), but the end was never seen
    Failed,        // nothing reached the printer's flash
};

// Stored and printed names: "ttf", "softfont", "pcx", "bmp" and
// "confirmed", "not confirmed", "failed".
QString modeName(LoadMode mode);
std::optional<LoadMode> modeFromName(const QString& name);
QString outcomeName(Outcome outcome);
std::optional<Outcome> outcomeFromName(const QString& name);

// A printer as the ledger knows it: its identity values and the link it was
// reached by ("local", or the TCP address and port as "ADDRESS:PORT").
struct PrinterKey {
    PrinterIdentity identity;
    QString link;

    static PrinterKey local(const PrinterIdentity& identity);
    static PrinterKey tcp(const PrinterIdentity& identity, const QString& address, quint16 port);
    bool operator==(const PrinterKey&) const = default;
};

struct LoadRecord {
    qint64 id = 0;
    QString path;  // the file the operator listed
    LoadMode mode = LoadMode::TrueType;
    QByteArray sha256;  // lower-case hex of the bytes sent
    qint64 size = 0;    // bytes sent
    std::optional<qint64> fontId;
    QDateTime time;  // UTC, when the load started
    std::optional<qint64> freeBefore;
    std::optional<qint64> freeAfter;
    Outcome outcome = Outcome::NotConfirmed;
    bool erased = false;  // a later erase of the printer took it away
};

struct EraseRecord {
    qint64 id = 0;
    QDateTime time;  // UTC
    std::optional<qint64> freeBefore;
    std::optional<qint64> freeAfter;
    Outcome outcome = Outcome::Confirmed;
};

enum class FlashAgreement {
    NeverSeen,             // the ledger holds no free-flash reading for this printer
    Agrees,                // the printer reports what the ledger last saw
    ChangedSinceLastSeen,  // loaded or erased elsewhere since
    Unknown,               // no reading now, or the ledger cannot be read
};

struct FlashCheck {
    FlashAgreement agreement = FlashAgreement::Unknown;
    std::optional<qint64> expected;  // the free flash the ledger last saw
};

QJsonObject toJson(const LoadRecord& load);
QJsonObject toJson(const EraseRecord& erase);

}  // namespace velquin::ledger
