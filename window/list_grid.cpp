#include "list_grid.h"

#include <QApplication>
#include <QPalette>

#include "file_list.h"
#include "printer_holds.h"

namespace velquin {

QVariant ListPresentation::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (index.row() == 0) {
        if (role == Qt::BackgroundRole) return QApplication::palette().button();
        return QIdentityProxyModel::data(index, role);
    }
    const bool held = QIdentityProxyModel::data(index, FileList::HeldRole).toBool();
    switch (role) {
        case Qt::ForegroundRole:
            return held ? QVariant(HELD_ROW_COLOUR) : QVariant();
        case Qt::ToolTipRole: {
            const QString path = QIdentityProxyModel::data(index, FileList::PathRole).toString();
            if (held) return HELD_ROW_TOOLTIP + QLatin1Char('\n') + path;
            return path;
        }
        default:
            return QIdentityProxyModel::data(index, role);
    }
}

void PathColumnDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = Qt::ElideMiddle;
}

}  // namespace velquin
