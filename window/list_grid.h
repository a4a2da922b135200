// How the grid shows the file list: the heading row in the colour of a
// heading, the rows the printer already holds marked, and the whole path of
// a row as its tooltip while the grid shortens it to fit.
#pragma once

#include <QIdentityProxyModel>
#include <QStyledItemDelegate>

namespace velquin {

class ListPresentation final : public QIdentityProxyModel {
    Q_OBJECT

public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};

// The path column: a long path loses its middle, so its start and its file
// name stay visible. The other columns show what fits, as they always did.
class PathColumnDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace velquin
