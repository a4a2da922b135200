// How the grid shows the file list: the heading row in the colour of a
// heading, the rows the printer already holds marked, and the whole path of
// a row as its tooltip while the grid shortens it to fit.
#pragma once

#include <QIdentityProxyModel>

namespace velquin {

class ListPresentation final : public QIdentityProxyModel {
    Q_OBJECT

public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};

}  // namespace velquin
