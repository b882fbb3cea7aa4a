// The jingle catalogue panel and the stamp: opening and searching the catalogue, the grid over
// the query's rows, inserting the current row as the stamp, showing and clearing the stamp.
#include "app/UTessivo.h"

#include "app/Application.h"
#include "app/CatalogueRows.h"
#include "app/Messages.h"
#include "app/PNGButton.h"
#include "db/Catalogue.h"
#include "db/FBDatabase.h"
#include "display/MMPanel.h"
#include "tags/U_Funcoes.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>

const char* const SCarimboAdicionado = "Vinheta de carimbo adicionada com sucesso";

void TFrmTessivo::ConnectCatalogueHandlers() {
    ConnectGuarded(SpeedButton14, &TFrmTessivo::SpeedButton14Click);
    ConnectGuarded(SpeedButton18, &TFrmTessivo::SpeedButton18Click);
    ConnectGuarded(BFindCarimbo, &TFrmTessivo::BFindCarimboClick);
    ConnectGuarded(BLimpaCarimbo, &TFrmTessivo::BLimpaCarimboClick);
    connect(EdBuscarVinhetas, &QLineEdit::textChanged, this, [this] {
        DeliverGuarded([this] {
            EdBuscarVinhetasChange();
            return true;
        });
    });

    // The grid shows the query: refilled at each opening, its current row is the query's. A
    // failed opening leaves the rows shown before, but nothing can be inserted from them.
    Q_Vinhetas->OnOpen = [this](TFBQuery*) {
        DS_Vinhetas->Fill(*Q_Vinhetas);
        SpeedButton18->setEnabled(true);
    };
    Q_Vinhetas->OnClose = [this](TFBQuery*) { SpeedButton18->setEnabled(false); };
    Q_Vinhetas->OnScroll = [this](TFBQuery* query) {
        const int row = query->RecNo();
        if (row >= 0 && row < DS_Vinhetas->rowCount()) DBGrid4->setCurrentIndex(DS_Vinhetas->index(row, 0));
    };
    connect(DBGrid4->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && Q_Vinhetas->Active()) Q_Vinhetas->MoveTo(current.row());
            });
    SpeedButton18->setEnabled(Q_Vinhetas->Active());
}

void TFrmTessivo::HideSidePanels() {
    PVinhetas->hide();
    PComentario->hide();
    Panel6->raise();
}

void TFrmTessivo::SpeedButton14Click() {
    Q_Vinhetas->Close();
    Q_Vinhetas->Open();  // the start statement, or the last search
    catalogueFailing_ = false;
    PVinhetas->show();
    PVinhetas->raise();
}

void TFrmTessivo::EdBuscarVinhetasChange() {
    Q_Vinhetas->Close();
    Q_Vinhetas->SQL() = CatalogueSearchSQL(EdBuscarVinhetas->text());
    try {
        Q_Vinhetas->Open();
    } catch (const std::exception& e) {
        // One box for one failure: while the catalogue stays out of reach further keys are
        // quiet, and the grid keeps the rows it shows.
        if (!catalogueFailing_) {
            catalogueFailing_ = true;
            ShowErrorBox(QString::fromUtf8(e.what()), this);
        }
        return;
    }
    catalogueFailing_ = false;
}

void TFrmTessivo::SpeedButton18Click() {
    // The stamp's position comes from the selection, which only loaded audio has.
    if (!state_.Loaded || !Q_Vinhetas->Active()) return;
    const QString type = QString::fromStdString(Q_Vinhetas->FieldByName("VIN_TIPO").AsString());
    const QString file = QString::fromStdString(Q_Vinhetas->FieldByName("VIN_ARQUIVO").AsString());
    const QString name = QString::fromStdString(Q_Vinhetas->FieldByName("VIN_NOME").AsString());
    state_.StampTimeText = SampleToTimeText(state_.SelStart);
    state_.StampFileText = StampFolder(type) + file;
    SetMarkerEditText(EdCarimbo, name);
    ShowMessage(QString::fromUtf8(SCarimboAdicionado), this);
    HideSidePanels();
}

void TFrmTessivo::BFindCarimboClick() { ShowBoundary(false, state_.StampTimeText); }

void TFrmTessivo::BLimpaCarimboClick() {
    state_.StampTimeText.clear();
    state_.StampFileText.clear();
    SetMarkerEditText(EdCarimbo, QString());
    FileInfo.StampMark.clear();
    FileInfo.StampFile.clear();
    HideSidePanels();
}
