// The comment panel: the memo is only a draft until "Gravar Comentário" takes it as the
// comment that the save writes.
#include "app/UTessivo.h"

#include "app/Messages.h"
#include "app/PNGButton.h"
#include "display/MMPanel.h"
#include "tags/U_Funcoes.h"

#include <QPlainTextEdit>

const char* const SComentarioAdicionado = "Comentário adicionado com sucesso.";

void TFrmTessivo::ConnectCommentHandlers() {
    ConnectGuarded(SpeedButton15, &TFrmTessivo::SpeedButton15Click);
    ConnectGuarded(SpeedButton19, &TFrmTessivo::SpeedButton19Click);
    ConnectGuarded(BLimpaComentario, &TFrmTessivo::BLimpaComentarioClick);
}

void TFrmTessivo::SpeedButton15Click() {
    PComentario->show();
    PComentario->raise();
}

void TFrmTessivo::SpeedButton19Click() {
    state_.CommentText = MemoComentario->toPlainText();
    ShowMessage(QString::fromUtf8(SComentarioAdicionado), this);
    HideSidePanels();
}

void TFrmTessivo::BLimpaComentarioClick() {
    state_.CommentText.clear();
    MemoComentario->clear();
    FileInfo.Comment.clear();
}
