#include "app/CatalogueRows.h"

#include "db/FBDatabase.h"

TCatalogueRows::TCatalogueRows(QObject* parent) : QAbstractTableModel(parent) {}

void TCatalogueRows::Fill(TFBQuery& query) {
    // One reset for the whole set: the grid lays itself out once, not once per row.
    beginResetModel();
    rows_.clear();
    const TFBField* name = query.FindField("VIN_NOME");
    const TFBField* duration = query.FindField("VIN_TEMPO");
    auto text = [&](const TFBField* field, int row) {
        return field ? QString::fromStdString(query.Value(row, field->Index()).text) : QString();
    };
    rows_.reserve(size_t(query.RecordCount()));
    for (int r = 0; r < query.RecordCount(); ++r) rows_.push_back({text(name, r), text(duration, r)});
    endResetModel();
}

int TCatalogueRows::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int TCatalogueRows::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant TCatalogueRows::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= int(rows_.size())) return {};
    const Row& r = rows_[size_t(index.row())];
    return index.column() == 0 ? r.name : r.duration;
}

QVariant TCatalogueRows::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    if (role == Qt::DisplayRole) return section == 0 ? QStringLiteral("Vinheta") : QStringLiteral("Duração");
    return {};
}
