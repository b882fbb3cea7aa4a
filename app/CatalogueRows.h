// The rows the catalogue grid shows: name and duration of each jingle of the query, copied at
// each opening so that a search that fails leaves the rows shown before. Read only.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <vector>

class TFBQuery;

class TCatalogueRows : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TCatalogueRows(QObject* parent = nullptr);

    // The rows of the open query (VIN_NOME, VIN_TEMPO), in its order; none for a closed one.
    void Fill(TFBQuery& query);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Titles "Vinheta" and "Duração", centred.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        QString name, duration;
    };
    std::vector<Row> rows_;
};
