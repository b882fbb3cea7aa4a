// The marker column: set, show and clear of the six time markers, saving every marker into
// the audio file's tag, and cancelling by loading the file again.
#include "app/UTessivo.h"

#include "app/Application.h"
#include "app/CommentText.h"
#include "app/Messages.h"
#include "app/PNGButton.h"
#include "audio/MMUtils.h"
#include "audio/MMWavOut.h"
#include "audio/MMWave.h"
#include "display/MMOscope.h"
#include "platform/FileNames.h"
#include "tags/MarkerOrder.h"
#include "tags/U_Funcoes.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QScrollBar>
#include <QSpinBox>

#include <algorithm>

const char* const SFalhaMarcacoes =
    "Não possível efetuar as marcações. O áudio pode estar sendo utilizado por outro processo.";
const char* const SOrdemMarcacoes = "As marcações estão fora de ordem:";
const char* const SGravarAssimMesmo = "Gravar assim mesmo";
const char* const SVoltar = "Voltar";

// One row of the marker column: its edit, the marker text it sets, the value read from the
// file that a clear must empty too (the writer falls back on it), and whether the row takes
// and shows the selection's end rather than its start.
struct TFrmTessivo::TMarkerRow {
    QLineEdit* TFrmTessivo::*edit;
    QString TEditorState::*text;
    std::string Tag::*fileInfo;
    bool end;
};

const TFrmTessivo::TMarkerRow TFrmTessivo::MarkerRows[6] = {
    {&TFrmTessivo::EdIntroducao, &TEditorState::IntroText, &Tag::IntroMark, false},
    {&TFrmTessivo::EdInicio, &TEditorState::StartText, &Tag::StartMark, false},
    {&TFrmTessivo::EdFim, &TEditorState::EndText, &Tag::EndMark, true},
    {&TFrmTessivo::EdInicioRefrao, &TEditorState::ChorusStartText, &Tag::ChorusStartMark, false},
    {&TFrmTessivo::EdFinalRefrao, &TEditorState::ChorusEndText, &Tag::ChorusEndMark, true},
    {&TFrmTessivo::EdMixagem, &TEditorState::MixText, &Tag::MixMark, false},
};

void TFrmTessivo::ConnectGuarded(QAbstractButton* button, void (TFrmTessivo::*handler)()) {
    // A handler's error goes to the default error box, as for any other event, and the
    // window stays usable.
    connect(button, &QAbstractButton::clicked, this, [this, handler] {
        DeliverGuarded([&] {
            (this->*handler)();
            return true;
        });
    });
}

void TFrmTessivo::ConnectMarkerHandlers() {
    ConnectGuarded(SpeedButton1, &TFrmTessivo::SpeedButton1Click);
    ConnectGuarded(SpeedButton9, &TFrmTessivo::SpeedButton9Click);
    ConnectGuarded(SpeedButton11, &TFrmTessivo::SpeedButton11Click);
    ConnectGuarded(SpeedButton10, &TFrmTessivo::SpeedButton10Click);
    ConnectGuarded(SpeedButton12, &TFrmTessivo::SpeedButton12Click);
    ConnectGuarded(SpeedButton13, &TFrmTessivo::SpeedButton13Click);
    ConnectGuarded(BFindIntro, &TFrmTessivo::BFindIntroClick);
    ConnectGuarded(BFindInicio, &TFrmTessivo::BFindInicioClick);
    ConnectGuarded(BFindFim, &TFrmTessivo::BFindFimClick);
    ConnectGuarded(BFindRefInicio, &TFrmTessivo::BFindRefInicioClick);
    ConnectGuarded(BFindRefFim, &TFrmTessivo::BFindRefFimClick);
    ConnectGuarded(BFindMix, &TFrmTessivo::BFindMixClick);
    ConnectGuarded(BLimpaIntro, &TFrmTessivo::BLimpaIntroClick);
    ConnectGuarded(BLimpaInicio, &TFrmTessivo::BLimpaInicioClick);
    ConnectGuarded(BLimpaFim, &TFrmTessivo::BLimpaFimClick);
    ConnectGuarded(BLimpaInicioRefrao, &TFrmTessivo::BLimpaInicioRefraoClick);
    ConnectGuarded(BLimpaFimRefrao, &TFrmTessivo::BLimpaFimRefraoClick);
    ConnectGuarded(BLimpaMixagem, &TFrmTessivo::BLimpaMixagemClick);
    ConnectGuarded(btnGravarMarcacoes, &TFrmTessivo::btnGravarMarcacoesClick);
    ConnectGuarded(btnCancelarMarcacoes, &TFrmTessivo::btnCancelarMarcacoesClick);
}

void TFrmTessivo::SetMarkerEditText(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    // A name longer than the box shows its start, and the whole of it as the hint.
    edit->setCursorPosition(0);
    edit->setToolTip(text);
}

int64_t TFrmTessivo::TimeTextToSample(const QString& text) const {
    const int seconds = TimeTextToSeconds(text.toStdString());
    const WAVEFORMATEX* format = MMWaveFile1->Wave()->PWaveFormat();
    return format ? MsToSamples(format, seconds) : 0;
}

void TFrmTessivo::ShowBoundary(bool end, const QString& text) {
    // Without audio there is no format to convert with and nothing to show.
    if (!state_.Loaded) return;
    // Converted before anything moves: a text that is no time raises here. A marker beyond the
    // file (read from another cut of the song) is shown at its end, never past it.
    const int32_t position =
        int32_t(std::clamp<int64_t>(TimeTextToSample(text) * 1000, 0, state_.TotalSamples));
    if (end)
        state_.LiveEnd = state_.SelEnd = position;
    else
        state_.LiveStart = state_.SelStart = position;
    ShowSelection(true);
}

QLineEdit* TFrmTessivo::MarkerEdit(int row) const { return this->*MarkerRows[row].edit; }

void TFrmTessivo::SetMarker(int row) {
    if (!state_.Loaded) return;
    SetMarkerAt(row, MarkerRows[row].end ? state_.SelEnd : state_.SelStart);
}

void TFrmTessivo::SetMarkerAt(int row, int32_t frame) {
    const TMarkerRow& r = MarkerRows[row];
    SetMarkerEditText(this->*r.edit, SampleToTimeText(frame));
    state_.*r.text = (this->*r.edit)->text();
    ShowGhosts();
}

void TFrmTessivo::ShowMarker(int row) {
    // An empty row has nothing to show; its ghost, if it has one, is taken instead.
    if (ShowsGhost(row)) {
        AcceptGhost(row);
        return;
    }
    const TMarkerRow& r = MarkerRows[row];
    ShowBoundary(r.end, (this->*r.edit)->text());
}

void TFrmTessivo::ClearMarker(int row) {
    const TMarkerRow& r = MarkerRows[row];
    SetMarkerEditText(this->*r.edit, QString());
    (state_.*r.text).clear();
    (FileInfo.*r.fileInfo).clear();
    ShowGhosts();  // an emptied row shows its ghost again
}

void TFrmTessivo::SpeedButton1Click() { SetMarker(0); }
void TFrmTessivo::SpeedButton9Click() { SetMarker(1); }
void TFrmTessivo::SpeedButton11Click() { SetMarker(2); }
void TFrmTessivo::SpeedButton10Click() { SetMarker(3); }
void TFrmTessivo::SpeedButton12Click() { SetMarker(4); }
void TFrmTessivo::SpeedButton13Click() { SetMarker(5); }

void TFrmTessivo::BFindIntroClick() { ShowMarker(0); }
void TFrmTessivo::BFindInicioClick() { ShowMarker(1); }
void TFrmTessivo::BFindFimClick() { ShowMarker(2); }
void TFrmTessivo::BFindRefInicioClick() { ShowMarker(3); }
void TFrmTessivo::BFindRefFimClick() { ShowMarker(4); }
void TFrmTessivo::BFindMixClick() { ShowMarker(5); }

void TFrmTessivo::BLimpaIntroClick() { ClearMarker(0); }
void TFrmTessivo::BLimpaInicioClick() { ClearMarker(1); }
void TFrmTessivo::BLimpaFimClick() { ClearMarker(2); }
void TFrmTessivo::BLimpaInicioRefraoClick() { ClearMarker(3); }
void TFrmTessivo::BLimpaFimRefraoClick() { ClearMarker(4); }
void TFrmTessivo::BLimpaMixagemClick() { ClearMarker(5); }

void TFrmTessivo::ClearMarkerTexts() {
    TEditorState& s = state_;
    s.AudioPath.clear();
    for (QString* t : {&s.IntroText, &s.StartText, &s.EndText, &s.ChorusStartText, &s.ChorusEndText, &s.MixText,
                       &s.StampTimeText, &s.StampFileText, &s.CommentText})
        t->clear();
}

QStringList TFrmTessivo::MarkerProblems() const {
    const TEditorState& s = state_;
    const TMarkerTexts given{s.StartText.toStdString(),       s.IntroText.toStdString(),
                             s.ChorusStartText.toStdString(), s.ChorusEndText.toStdString(),
                             s.MixText.toStdString(),         s.EndText.toStdString(),
                             s.StampTimeText.toStdString()};
    const WAVEFORMATEX* format = MMWaveFile1->Wave()->PWaveFormat();
    const int64_t audioMs = s.Loaded && format ? SamplesToMs64(format, s.TotalSamples) : -1;
    QStringList problems;
    for (const std::string& p : MarkerOrderProblems(MarkersToWrite(given, FileInfo), audioMs))
        problems << QString::fromStdString(p);
    return problems;
}

bool TFrmTessivo::ConfirmMarkerOrder() {
    const QStringList problems = MarkerProblems();
    if (problems.isEmpty()) return true;
    return AskMessage(QString::fromUtf8(SOrdemMarcacoes) + "\n\n" + problems.join('\n'),
                      QString::fromUtf8(SGravarAssimMesmo), QString::fromUtf8(SVoltar), this);
}

void TFrmTessivo::btnGravarMarcacoesClick() {
    if (!state_.Loaded) return;
    // Markers out of order are written only when the operator says so.
    if (!ConfirmMarkerOrder()) return;
    const TEditorState& s = state_;
    // The writer empties the values read from the file even when it fails; they are put back
    // then, so that a retry writes the same tag as the first attempt would have.
    const Tag readFromFile = FileInfo;
    bool written = false;
    struct Restore {
        const Tag& saved;
        const bool& done;
        ~Restore() {
            if (!done) FileInfo = saved;
        }
    } restore{readFromFile, written};

    const std::string e;
    written = WriteMarkers(FileNameBytes(s.AudioPath), e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e,
                           CommentForTag(s.CommentText), s.IntroText.toStdString(), s.StampTimeText.toStdString(),
                           s.StampFileText.toStdString(), s.StartText.toStdString(), s.EndText.toStdString(),
                           s.ChorusStartText.toStdString(), s.ChorusEndText.toStdString(), s.MixText.toStdString());
    if (!written) {
        ShowMessage(QString::fromUtf8(SFalhaMarcacoes), this);
        return;
    }

    CancelSuggestions();
    const QString suffix = QFileInfo(s.AudioPath).suffix();
    const std::string extension = suffix.isEmpty() ? std::string() : "." + suffix.toUpper().toStdString();
    ClearMarkerTexts();
    FreeAudioInfo(extension);
    // The file is tagged: let go of the audio shown so that the playout system finds it free.
    MMWaveOut1->Stop();
    MMWaveFile1->Wave()->CloseFile();
    MMWaveFile1->Wave()->Clear();
    state_.Loaded = false;
    state_.ViewsReady = false;  // no boundary or cursor line over the emptied views
    for (TMMOscope* v : {Oscope1, Oscope2, Oscope3, Oscope4}) v->ResetDisplay();
    // Nothing is left to play, move to or zoom: every transport and view control goes off until
    // a reload turns them on again.
    for (QWidget* c : std::initializer_list<QWidget*>{BInicio, StopBtn, PlayBtn, BFim, FullViewBtn, btnZoomMenos,
                                                      btnZoomMais, ZoomSpin, ScrollBar1})
        c->setEnabled(false);
    for (QLineEdit* edit : {EdIntroducao, EdInicio, EdFim, EdInicioRefrao, EdFinalRefrao, EdMixagem, EdCarimbo})
        SetMarkerEditText(edit, QString());
}

void TFrmTessivo::btnCancelarMarcacoesClick() { LoadAudio(); }
