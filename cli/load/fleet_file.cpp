#include "fleet_file.h"

#include <toml++/toml.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "discover.h"

namespace velquin::load {

namespace {

std::optional<LoaderMode> parseModeName(std::string_view text) {
    if (text == "ttf") return LoaderMode::ModeTTF;
    if (text == "softfont") return LoaderMode::ModeSF;
    if (text == "pcx") return LoaderMode::ModePCX;
    return std::nullopt;
}

QString where(const toml::node& node) {
    const toml::source_region& source = node.source();
    return QStringLiteral("line %1").arg(source.begin.line);
}

// The strings of an array (or one string); an error text when it is neither.
std::optional<QStringList> strings(const toml::node* node, QString& error, const QString& key) {
    QStringList out;
    if (node == nullptr) return out;
    if (const auto* text = node->as_string()) return QStringList{QString::fromStdString(text->get())};
    const auto* array = node->as_array();
    if (array == nullptr) {
        error = QStringLiteral("%1: \"%2\" must be a text or a list of texts").arg(where(*node), key);
        return std::nullopt;
    }
    for (const toml::node& element : *array) {
        const auto* text = element.as_string();
        if (text == nullptr) {
            error = QStringLiteral("%1: \"%2\" must hold texts only").arg(where(element), key);
            return std::nullopt;
        }
        out << QString::fromStdString(text->get());
    }
    return out;
}

QString resolved(const QString& folder, const QString& path) {
    return QDir::cleanPath(QDir(folder).absoluteFilePath(path));
}

}  // namespace

FleetFile parseFleetText(const QString& text, const QString& folder, const QString& sourceName) {
    FleetFile fleet;
    auto fail = [&](const QString& message) {
        fleet.groups.clear();
        fleet.error = sourceName + QStringLiteral(": ") + message;
        return fleet;
    };
    toml::table document;
    try {
        document = toml::parse(text.toStdString(), sourceName.toStdString());
    } catch (const toml::parse_error& error) {
        return fail(QStringLiteral("line %1: %2")
                        .arg(error.source().begin.line)
                        .arg(QString::fromUtf8(error.description().data(),
                                               static_cast<qsizetype>(error.description().size()))));
    }
    for (const auto& [key, value] : document)
        if (key.str() != "group")
            return fail(QStringLiteral("%1: unknown key \"%2\"")
                            .arg(where(value), QString::fromStdString(std::string(key.str()))));
    const toml::array* groups = document["group"].as_array();
    if (groups == nullptr || groups->empty()) return fail(QStringLiteral("no [[group]]"));
    for (const toml::node& groupNode : *groups) {
        const toml::table* table = groupNode.as_table();
        if (table == nullptr) return fail(where(groupNode) + QStringLiteral(": a group must be a table"));
        FleetGroup group;
        QString error;
        for (const auto& [key, value] : *table) {
            const std::string_view name = key.str();
            if (name == "name") {
                const auto* text = value.as_string();
                if (text == nullptr) return fail(where(value) + QStringLiteral(": \"name\" must be a text"));
                group.name = QString::fromStdString(text->get());
            } else if (name == "printers") {
                const auto list = strings(&value, error, QStringLiteral("printers"));
                if (!list) return fail(error);
                for (const QString& printer : *list) {
                    const auto address = parsePrinter(printer);
                    if (!address)
                        return fail(
                            where(value) +
                            QStringLiteral(": bad printer \"%1\" (tcp:HOST[:PORT] or local)").arg(printer));
                    group.printers << *address;
                }
            } else if (name == "subnets") {
                const auto list = strings(&value, error, QStringLiteral("subnets"));
                if (!list) return fail(error);
                for (const QString& subnet : *list)
                    if (!parseSubnet(subnet))
                        return fail(where(value) +
                                    QStringLiteral(": bad range \"%1\" (A.B.C.D/N)").arg(subnet));
                group.subnets = *list;
            } else if (name == "port") {
                const std::optional<std::int64_t> port = value.value<std::int64_t>();
                if (!port || *port < 1 || *port > 65'535)
                    return fail(where(value) + QStringLiteral(": \"port\" must be 1 to 65535"));
                group.port = static_cast<quint16>(*port);
            } else if (name == "erase_if_changed") {
                const std::optional<bool> flag = value.value<bool>();
                if (!flag)
                    return fail(where(value) +
                                QStringLiteral(": \"erase_if_changed\" must be true or false"));
                group.eraseIfChanged = *flag;
            } else if (name == "load") {
                const toml::array* loads = value.as_array();
                if (loads == nullptr)
                    return fail(where(value) + QStringLiteral(": write loads as [[group.load]]"));
                for (const toml::node& loadNode : *loads) {
                    const toml::table* loadTable = loadNode.as_table();
                    if (loadTable == nullptr)
                        return fail(where(loadNode) + QStringLiteral(": a load must be a table"));
                    FleetLoad load;
                    for (const auto& [loadKey, loadValue] : *loadTable) {
                        const std::string_view field = loadKey.str();
                        if (field == "mode") {
                            const auto* text = loadValue.as_string();
                            load.mode = text ? parseModeName(text->get()) : std::nullopt;
                            if (!load.mode)
                                return fail(where(loadValue) +
                                            QStringLiteral(": \"mode\" must be ttf, softfont or pcx"));
                        } else if (field == "files") {
                            const auto list = strings(&loadValue, error, QStringLiteral("files"));
                            if (!list) return fail(error);
                            for (const QString& file : *list) load.files << resolved(folder, file);
                        } else if (field == "list") {
                            const auto* text = loadValue.as_string();
                            if (text == nullptr)
                                return fail(where(loadValue) + QStringLiteral(": \"list\" must be a text"));
                            load.listFile = resolved(folder, QString::fromStdString(text->get()));
                        } else {
                            return fail(where(loadValue) +
                                        QStringLiteral(": unknown key \"%1\" in a load")
                                            .arg(QString::fromStdString(std::string(field))));
                        }
                    }
                    if (load.files.isEmpty() == load.listFile.isEmpty())
                        return fail(where(loadNode) +
                                    QStringLiteral(": a load needs either \"files\" or \"list\""));
                    group.loads << load;
                }
            } else {
                return fail(where(value) + QStringLiteral(": unknown key \"%1\" in a group")
                                               .arg(QString::fromStdString(std::string(name))));
            }
        }
        if (group.name.isEmpty()) group.name = QStringLiteral("group %1").arg(fleet.groups.size() + 1);
        if (group.printers.isEmpty() && group.subnets.isEmpty())
            return fail(where(groupNode) +
                        QStringLiteral(": group \"%1\" names no printers and no subnets").arg(group.name));
        if (group.loads.isEmpty())
            return fail(where(groupNode) +
                        QStringLiteral(": group \"%1\" has no [[group.load]]").arg(group.name));
        fleet.groups << group;
    }
    return fleet;
}

FleetFile readFleetFile(const QString& path) {
    QFile file(path);
    // A fleet file is a few kilobytes; anything far larger is not one.
    constexpr qint64 LARGEST_FLEET_FILE = 4 * 1024 * 1024;
    if (!file.open(QIODevice::ReadOnly) || file.size() > LARGEST_FLEET_FILE) {
        FleetFile fleet;
        fleet.error = QStringLiteral("cannot read fleet file %1").arg(path);
        return fleet;
    }
    return parseFleetText(QString::fromUtf8(file.readAll()), QFileInfo(path).absolutePath(), path);
}

}  // namespace velquin::load
