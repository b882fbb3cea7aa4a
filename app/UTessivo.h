// The main window FrmTessivo: the marker column, the waveform area with its four views, the
// status bar, the catalogue and comment panels, the database objects, and the start-up checks.
// Its handlers live in one file per family (docs/ARCHITECTURE.md): UTessivo.cpp start-up and
// controls, UTessivoLoad.cpp loading, UTessivoWave.cpp views, geometry and selection; playback,
// markers and saving, the catalogue and the comment follow in UTessivoPlay.cpp,
// UTessivoMarkers.cpp, UTessivoCatalogue.cpp and UTessivoComment.cpp; the keys, the wheel and the
// radio previews in UTessivoKeys.cpp. The state they share is
// the window-free TEditorState (app/EditorState.h).
#pragma once

#include "app/EditorState.h"
#include "common/MMTypes.h"
#include "common/MMColors.h"
#include "display/MMOscope.h"

#include <QCursor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QAbstractButton;
class QAction;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPlainTextEdit;
class QScrollBar;
class QSpinBox;
class QTableView;
class QTimer;
class TCatalogueRows;
class TFBDatabase;
class TFBQuery;
class TFBTransaction;
class TMMGauge;
class TMMNonVisualComponent;
class TMMOscope;
class TMMWaveFile;
class TMMWaveOut;
class TMMPanel;
class TPNGButton;
class TSuggestWorker;
struct TMarkerSuggestions;

extern const char* const SNenhumAudio;         // "Nenhum áudio foi informado."
extern const char* const SFalhaConexao;        // "Não foi possível conectar com a base de dados."
extern const char* const SDefaultDatabaseName;  // the connection's design-time database
extern const char* const SArquivoNaoEncontrado;  // "O arquivo do áudio selecionado não foi encontrado."
extern const char* const SFalhaMarcacoes;        // the save's failure message
extern const char* const SCarimboAdicionado;     // "Vinheta de carimbo adicionada com sucesso"
extern const char* const SComentarioAdicionado;  // "Comentário adicionado com sucesso."
extern const char* const SOrdemMarcacoes;        // heads the list of markers out of order at a save
extern const char* const SGravarAssimMesmo;      // "Gravar assim mesmo": save all the same
extern const char* const SVoltar;                // "Voltar": back to the markers
extern const char* const SSugerido;              // "sugerido": the hint of a suggested marker

class TFrmTessivo : public QWidget {
    Q_OBJECT
public:
    // Builds the window and runs FormCreate with the command-line arguments (without the
    // program name). programFolder is the first place BaseQuelt.ini is looked for (default: the
    // folder of the executable; see FindIniFile). When FormCreate ends the process (no audio named) Terminated() is true
    // and the window must not be shown.
    explicit TFrmTessivo(const QStringList& arguments, const QString& programFolder = QString(),
                         QWidget* parent = nullptr);
    ~TFrmTessivo() override;

    bool Terminated() const { return terminated_; }
    // Screen cursor 1 ("CUR_MARK") or 2 ("CUR_ZOOM"); the default arrow for any other index or
    // for one whose image could not be loaded.
    QCursor ScreenCursor(int index) const;
    // Whether FormCreate tried to connect DB_Quelt (only when BaseQuelt.ini exists).
    bool ConnectionAttempted() const { return connectionAttempted_; }

    // --- the window seen from outside (tests, tools) ---
    // The state record the commands share. Writable so that a caller can set up a state and
    // then ask for a redraw (ShowSelection, RefreshDetailView).
    TEditorState& State() { return state_; }
    const TEditorState& State() const { return state_; }
    // A control, timer or action by its form name ("Oscope1", "ZoomSpin", "AutoScrollTimer",
    // "Action1"); nullptr when there is none of that name and type.
    template <class T>
    T* Control(const char* name) const {
        return findChild<T*>(QString::fromLatin1(name));
    }
    // The non-visual components: MMWaveFile1 (Temp.wav in the views), TempFile (the playback
    // source), DB_Quelt, Trans_Quelt and Q_Vinhetas.
    TMMWaveFile* WaveFile1() const { return MMWaveFile1.get(); }
    TMMWaveFile* PlaybackFile() const { return TempFile.get(); }
    TMMWaveOut* WaveOut() const { return MMWaveOut1.get(); }
    TFBDatabase* Database() const { return DB_Quelt.get(); }
    TFBTransaction* Transaction() const { return Trans_Quelt.get(); }
    TFBQuery* CatalogueQuery() const { return Q_Vinhetas.get(); }
    // The PCM bytes last handed to the views.
    const std::vector<uint8_t>& DisplayBlock() const { return DisplayBuffer; }

    // Ends the process with the code (the default leaves at once); tests replace it.
    std::function<void(int code)> ExitProcess;

    // --- start-up and closing (UTessivo.cpp) ---
    void FormCreate(const QStringList& arguments);
    void FormDestroy();
    void Action1Execute();
    void SpeedButton16Click();

    // --- loading (UTessivoLoad.cpp) ---
    void FormShow();
    void LoadAudio();
    // Runs the import dialog; false when it reported a failed import (Temp.wav incomplete).
    bool ImportAudio();
    void FillMarkersFromTag();
    // Frame position as the status panel and the markers show it.
    QString SampleToTimeText(int32_t sample) const;

    // --- view geometry, zoom and scrolling (UTessivoWave.cpp) ---
    int32_t Zoom() const;
    int32_t SampleToPixel(int32_t s) const;
    int32_t PixelToSample(int32_t x) const;
    int32_t ViewSampleCount(const TMMOscope* view) const;
    void ShowSelection(bool repaint);
    void UpdateZoomRange();
    void RefreshDetailView();
    void BuildMonoOverview();
    void BuildStereoOverview();
    void LayoutViews();
    void MMPanel1Resize();
    // action: a QAbstractSlider::SliderAction of ScrollBar1.
    void ScrollBar1Scroll(int action);
    void btnZoomMenosClick();
    void btnZoomMaisClick();
    void FullViewBtnClick();
    void ZoomSpinChange();
    void AutoScrollTick();

    // --- mouse selection (UTessivoWave.cpp) ---
    // which: 0 both boundary lines, 1 the start line, 2 the end line.
    void DrawBoundaryLines(TMMOscope* view, int which);
    void DrawPlayCursor(TMMOscope* view);
    void Oscope1MouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void Oscope1MouseMove(QObject* sender, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
    void Oscope1MouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void Oscope1PostPaint(QObject* sender);

    // --- marker rows, saving and cancelling (UTessivoMarkers.cpp) ---
    // Set: the row's marker from the committed selection (nothing without loaded audio).
    void SpeedButton1Click();   // "Introdução"
    void SpeedButton9Click();   // "Início"
    void SpeedButton11Click();  // "Fim"
    void SpeedButton10Click();  // "Início do Refrão"
    void SpeedButton12Click();  // "Final do Refrão"
    void SpeedButton13Click();  // "Mixagem"
    // Show: a selection boundary moved to the row's marker. A text that is no time raises
    // EConvertError before anything moves; nothing happens without loaded audio.
    void BFindIntroClick();
    void BFindInicioClick();
    void BFindFimClick();
    void BFindRefInicioClick();
    void BFindRefFimClick();
    void BFindMixClick();
    // Clear: the row's marker and the value read from the file, so that the save drops the frame.
    void BLimpaIntroClick();
    void BLimpaInicioClick();
    void BLimpaFimClick();
    void BLimpaInicioRefraoClick();
    void BLimpaFimRefraoClick();
    void BLimpaMixagemClick();
    // Writes every marker into the audio file's tag, then lets go of the audio shown. A refused
    // write shows SFalhaMarcacoes and changes nothing, so that the operator can retry.
    void btnGravarMarcacoesClick();
    // Loads the file again: the markers as stored.
    void btnCancelarMarcacoesClick();
    // The problems of the markers the save would write (order, stamp, past the audio, texts
    // that are no time), in Portuguese; empty when all is well.
    QStringList MarkerProblems() const;
    // Lists the problems and asks "Gravar assim mesmo" or "Voltar"; true when there are none
    // or the operator saves all the same.
    bool ConfirmMarkerOrder();
    // AudioPath and the nine marker texts emptied.
    void ClearMarkerTexts();
    // Thousandths of the frame of a marker time text in the loaded format (its whole seconds
    // times the sample rate over 1000). Throws EConvertError for a text that is no time.
    int64_t TimeTextToSample(const QString& text) const;

    // --- catalogue panel and stamp (UTessivoCatalogue.cpp) ---
    void SpeedButton14Click();      // "Carimbo": the panel opened on the query's statement
    void EdBuscarVinhetasChange();  // every change of the search text: the search statement
    void SpeedButton18Click();      // "Inserir Carimbo": the current row at the selection start
    void BFindCarimboClick();       // the selection start moved to the stamp
    void BLimpaCarimboClick();      // the stamp removed

    // --- comment panel (UTessivoComment.cpp) ---
    void SpeedButton15Click();     // "Inserir Comentário": the panel shown
    void SpeedButton19Click();     // "Gravar Comentário": the memo taken as the comment
    void BLimpaComentarioClick();  // the comment removed

    // --- playback (UTessivoPlay.cpp) ---
    void Action2Execute();
    // Focus entering and leaving the comment memo, the catalogue search box and the marker
    // edits: Space types there instead of toggling playback.
    void EdIntroducaoEnter();
    void EdIntroducaoExit();
    void PlayBtnClick();
    void StopBtnClick();
    void BInicioClick();
    void BFimClick();
    void MMWaveOut1Start();
    void MMWaveOut1Pause();
    void MMWaveOut1Restart();
    void MMWaveOut1Stop();
    void TimerTessivoTimer();
    // The timer's work for p frames played: the status, the gauge, the cursors and the page
    // turn of the detail views.
    void ShowPlayPosition(int64_t p);

    // --- keys, wheel and radio previews (UTessivoKeys.cpp) ---
    // The selection's start (or end) moved by ms, kept inside the file and off the other
    // boundary; while playing, playback starts again from the new selection.
    void NudgeBoundary(bool end, int32_t ms);
    // Zoom by 2^steps (steps > 0 zooms in) keeping the frame at column x of the detail view
    // under x; nothing while the zoom is off (no audio, playing).
    void ZoomAround(int x, int steps);
    // The detail view moved by steps eighths of its width (steps > 0: towards the end).
    void ScrollDetail(int steps);
    // F1: every key of the window, in Portuguese.
    void ShowKeyList();
    // The list as ShowKeyList shows it (a box of this window), and as plain text.
    std::unique_ptr<QMessageBox> KeyListBox();
    static QString KeyListText();
    // The radio previews: the selection set to the range and played. A marker not set (or no
    // time) leaves everything as it is and names the marker in StatusMarcas.
    void BOuvirInicioClick();   // the first 5 s from Início
    void BOuvirRefraoClick();   // Início do Refrão to Final do Refrão
    void BOuvirMixagemClick();  // 3 s before to 3 s after Mixagem
    void BOuvirFimClick();      // the last 5 s before Fim
    // StatusMarcas: the intro length (Início to Introdução) and Mixagem to Fim, of the markers set.
    void UpdateMarkerStatus();

    // --- suggested markers (UTessivoSuggest.cpp) ---
    // The analysis of the loaded song ended: its start, end and mix point become the ghosts of
    // the start, end and mix rows, shown while a row is empty; the loudness figures become the
    // hint of the duration panel.
    void SuggestionsReady(const TMarkerSuggestions& suggestions);
    // The suggested frame of a marker row (0 intro .. 5 mix), -1 when the row has none.
    int32_t SuggestedFrame(int row) const;
    // Whether the row shows its ghost: it has a suggestion and its marker is empty.
    bool ShowsGhost(int row) const;
    // Takes a row's ghost as the marker, as its set button would from a selection there;
    // nothing when the row shows no ghost.
    void AcceptGhost(int row);
    // An analysis runs whose result has not arrived.
    bool SuggestionsPending() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // UTessivo.cpp
    void CreateControls();
    void CreateMarkerColumn();
    void CreateWaveArea();
    void CreateStatusBar();
    void CreateCataloguePanel();
    void CreateCommentPanel();
    void CreateComponents();
    void LoadScreenCursors();
    // FormClose: the close action frees the window; as the main window this ends the program.
    void FormClose();

    // UTessivoWave.cpp
    void CreateViewComponents();
    TMMOscope* MakeView(QWidget* parent, const char* name, QRect bounds, TMMOscopeKind kind, TMMChannel channel,
                        TColor fore, TColor inactive);
    void BuildOverview();
    TDetailGeometry Detail() const;
    // Inverts the columns of rect (either order of left and right) on the overview views.
    void InvertOverviewBand(const QRect& rect);
    void InvertColumn(TMMOscope* view, int x, TColor pen);
    bool IsDetailView(const QObject* view) const { return view == (QObject*)Oscope1 || view == (QObject*)Oscope2; }
    bool IsOverviewView(const QObject* view) const { return view == (QObject*)Oscope3 || view == (QObject*)Oscope4; }

    // UTessivoMarkers.cpp
    struct TMarkerRow;
    static const TMarkerRow MarkerRows[6];  // intro, start, end, chorus start, chorus end, mix
    // Clicks of the button run the handler; what it raises goes to the default error box.
    void ConnectGuarded(QAbstractButton* button, void (TFrmTessivo::*handler)());
    void ConnectMarkerHandlers();
    void SetMarker(int row);
    // The row's marker at a frame, as its set button puts it.
    void SetMarkerAt(int row, int32_t frame);
    QLineEdit* MarkerEdit(int row) const;
    void ShowMarker(int row);
    void ClearMarker(int row);
    // Moves the start (or the end) boundary to a marker time text.
    void ShowBoundary(bool end, const QString& text);
    // A marker or stamp box: the start of a long text shown, the whole of it as the hint.
    static void SetMarkerEditText(QLineEdit* edit, const QString& text);
    // UTessivoCatalogue.cpp
    void ConnectCatalogueHandlers();
    void HideSidePanels();  // both panels hidden, Panel6 in front
    // UTessivoComment.cpp
    void ConnectCommentHandlers();

    // UTessivoKeys.cpp
    void CreateKeyboard();  // key actions, the wheel over the detail views, tooltips
    void CreatePreviews();  // the preview buttons and StatusMarcas
    bool KeysAllowed() const;
    // Plays [from, to) ms of the markers' time, clamped to the file.
    void PlayPreview(int64_t fromMs, int64_t toMs);
    // The ms of a marker text, or the reason it has none in StatusMarcas.
    bool PreviewMarker(const QString& text, const char* name, int64_t& ms);

    // UTessivoSuggest.cpp
    void CreateSuggestions();   // the worker, and Enter in the rows' edits
    void StartSuggestions();    // the analysis of the Temp.wav just loaded
    void CancelSuggestions();   // a running analysis stopped, every ghost gone
    void ShowGhosts();          // the edits and the views follow the rows and their ghosts
    // UTessivoWave.cpp: the dashed lines of the ghosts (drawn twice, they are gone).
    void DrawGhostLines(TMMOscope* view);

    // UTessivoPlay.cpp
    void CreatePlaybackComponents();
    // Closes the output without the window's reactions (the window is going away).
    void ClosePlayback();

    // --- state shared by the loading, view, playback and marker commands ---
    TEditorState state_;

    // --- controls (owned by their Qt parents) ---
    TMMPanel* Panel6 = nullptr;
    TMMPanel* PBotoes = nullptr;
    TPNGButton *BFindIntro = nullptr, *BFindInicio = nullptr, *BFindFim = nullptr, *BFindRefInicio = nullptr,
               *BFindRefFim = nullptr, *BFindMix = nullptr, *BFindCarimbo = nullptr;
    TPNGButton *SpeedButton1 = nullptr, *SpeedButton9 = nullptr, *SpeedButton11 = nullptr, *SpeedButton10 = nullptr,
               *SpeedButton12 = nullptr, *SpeedButton13 = nullptr, *SpeedButton14 = nullptr,
               *SpeedButton15 = nullptr;
    QLineEdit *EdIntroducao = nullptr, *EdInicio = nullptr, *EdFim = nullptr, *EdInicioRefrao = nullptr,
              *EdFinalRefrao = nullptr, *EdMixagem = nullptr, *EdCarimbo = nullptr;
    TPNGButton *BLimpaIntro = nullptr, *BLimpaInicio = nullptr, *BLimpaFim = nullptr,
               *BLimpaInicioRefrao = nullptr, *BLimpaFimRefrao = nullptr, *BLimpaMixagem = nullptr,
               *BLimpaCarimbo = nullptr, *BLimpaComentario = nullptr;
    TPNGButton *btnCancelarMarcacoes = nullptr, *btnGravarMarcacoes = nullptr;
    std::vector<QWidget*> Bevels;  // the thin frames that group the marker column

    TMMPanel* Panel7 = nullptr;
    TMMPanel* MMPanel1 = nullptr;
    TMMOscope *Oscope1 = nullptr, *Oscope2 = nullptr;
    TMMPanel* MMPanel2 = nullptr;
    TMMPanel* MMPanel3 = nullptr;
    TMMOscope *Oscope3 = nullptr, *Oscope4 = nullptr;
    TMMPanel* MMPanel4 = nullptr;
    TMMGauge* Gauge1 = nullptr;
    QScrollBar* ScrollBar1 = nullptr;

    TMMPanel* StatusPanel = nullptr;
    TPNGButton *BInicio = nullptr, *BFim = nullptr, *StopBtn = nullptr, *PlayBtn = nullptr,
               *btnZoomMenos = nullptr, *btnZoomMais = nullptr, *FullViewBtn = nullptr;
    QSpinBox* ZoomSpin = nullptr;
    TMMPanel* Status4 = nullptr;
    TMMPanel *StatusSample = nullptr, *StatusTime = nullptr, *StatusSize = nullptr;
    TPNGButton* SpeedButton16 = nullptr;

    TMMPanel* PVinhetas = nullptr;
    QTableView* DBGrid4 = nullptr;
    QLabel* LabelLocalizar = nullptr;
    QLineEdit* EdBuscarVinhetas = nullptr;
    TPNGButton* SpeedButton18 = nullptr;

    TMMPanel* PComentario = nullptr;
    QLabel* LabelComentarios = nullptr;
    QPlainTextEdit* MemoComentario = nullptr;
    TPNGButton* SpeedButton19 = nullptr;

    // --- non-visual components ---
    QTimer* TimerTessivo = nullptr;
    QObject* ActionList1 = nullptr;
    TPNGButton *BOuvirInicio = nullptr, *BOuvirRefrao = nullptr, *BOuvirMixagem = nullptr, *BOuvirFim = nullptr;
    TMMPanel* StatusMarcas = nullptr;  // intro length, mix to end, or a preview's missing marker
    QAction* Action1 = nullptr;  // "Sair", Esc
    QAction* Action2 = nullptr;  // Space: toggles playback
    // MMWaveFile1 reads Temp.wav into the views; TempFile is the playback source.
    std::unique_ptr<TMMWaveFile> MMWaveFile1, TempFile;
    std::unique_ptr<TMMWaveOut> MMWaveOut1;
    std::unique_ptr<TFBDatabase> DB_Quelt;
    std::unique_ptr<TFBTransaction> Trans_Quelt;
    std::unique_ptr<TFBQuery> Q_Vinhetas;
    TCatalogueRows* DS_Vinhetas = nullptr;  // the grid's copy of the query's rows

    // --- view state ---
    std::vector<uint8_t> DisplayBuffer;  // PCM bytes handed to the views
    QTimer* AutoScrollTimer = nullptr;
    QImage DragBitmap;                   // black: copied inverted, it inverts the views
    QRect DragAnchorRect, DragRect;      // (left, top, right, bottom) as the band moves
    int autoScrollX_ = 0;  // pointer column of the last drag move, in Oscope1's coordinates

    QString programFolder_;
    bool terminated_ = false;
    bool connectionAttempted_ = false;
    bool formShown_ = false;
    std::map<int, QCursor> screenCursors_;
    bool catalogueFailing_ = false;  // the last search failed and was reported

    // --- suggested markers ---
    std::unique_ptr<TSuggestWorker> suggestWorker_;
    std::array<int32_t, 6> suggested_{-1, -1, -1, -1, -1, -1};  // per marker row, -1: none
    int ghostsDrawn_ = 0;  // bit per row whose ghost the views show
};
