#include "app/UTessivo.h"

#include "app/Application.h"
#include "app/CatalogueRows.h"
#include "app/IniFile.h"
#include "app/Messages.h"
#include "app/PNGButton.h"
#include "app/SuggestWorker.h"
#include "audio/MMWavOut.h"
#include "audio/MMWave.h"
#include "common/MMColors.h"
#include "common/MMControls.h"
#include "db/Catalogue.h"
#include "db/FBDatabase.h"
#include "display/MMGauge.h"
#include "display/MMPanel.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>

#include <algorithm>

const char* const SNenhumAudio = "Nenhum áudio foi informado.";
const char* const SFalhaConexao = "Não foi possível conectar com a base de dados.";
const char* const SDefaultDatabaseName = "C:\\Quelt\\Quelt Play\\Queltdb\\QUELTDB.FDB";
const char* const SArquivoNaoEncontrado = "O arquivo do áudio selecionado não foi encontrado.";

namespace {

const char* const SExibirMarcacao = "Exibir marcação definida";
const char* const SLimparMarcacao = "Limpar marcação";

TMMPanel* makePanel(QWidget* parent, const char* name, QRect bounds, TBevelCut outer, TBevelCut inner,
                    TBorderStyle border = bsNone, int borderWidth = 0) {
    auto* p = new TMMPanel(parent);
    p->setObjectName(name);
    p->Bevel()->BeginUpdate();
    p->Bevel()->SetBevelOuter(outer);
    p->Bevel()->SetBevelInner(inner);
    p->Bevel()->SetBorderStyle(border);
    p->Bevel()->SetBorderWidth(borderWidth);
    p->Bevel()->EndUpdate();
    p->SetBounds(bounds.x(), bounds.y(), bounds.width(), bounds.height());
    return p;
}

TPNGButton* makeImageButton(QWidget* parent, const char* name, const char* image, QRect bounds,
                            const QString& caption = QString(), const QString& hint = QString()) {
    auto* b = new TPNGButton(parent);
    b->setObjectName(name);
    if (image) b->LoadImage(image);
    b->SetCaption(caption);
    if (!hint.isEmpty()) b->setToolTip(hint);
    b->setGeometry(bounds);
    return b;
}

// A two-state glyph button of the status bar: raised, 28 x 28, disabled until audio is loaded.
TPNGButton* makeGlyphButton(QWidget* parent, const char* name, const char* image, int left) {
    TPNGButton* b = makeImageButton(parent, name, image, QRect(left, 2, 28, 28));
    b->SetFlat(false);
    b->setEnabled(false);
    return b;
}

QLineEdit* makeMarkerEdit(QWidget* parent, const char* name, QRect bounds) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setReadOnly(true);
    e->setEnabled(false);
    e->setAlignment(Qt::AlignCenter);
    // A condensed face: a time such as 12:34.567 fits the narrow box.
    QFont f = e->font();
    f.setStretch(78);
    e->setFont(f);
    e->setGeometry(bounds);
    return e;
}

}  // namespace

TFrmTessivo::TFrmTessivo(const QStringList& arguments, const QString& programFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      programFolder_(programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder) {
    InitResources();
    setObjectName("FrmTessivo");
    setWindowTitle(STessivoTitle);
    setFixedSize(764, 393);
    setAutoFillBackground(true);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }

    CreateComponents();
    CreateControls();
    CreateViewComponents();
    ConnectMarkerHandlers();
    CreateSuggestions();
    ConnectCatalogueHandlers();
    ConnectCommentHandlers();
    CreatePlaybackComponents();
    CreateKeyboard();
    CreatePreviews();
    FormCreate(arguments);
}

TFrmTessivo::~TFrmTessivo() { FormDestroy(); }

// ---------------------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------------------

void TFrmTessivo::CreateControls() {
    // The status bar is docked first so that Panel6 fills what is above it.
    CreateStatusBar();
    Panel6 = makePanel(this, "Panel6", QRect(0, 0, 764, 361), bvRaised, bvNone);
    PBotoes = makePanel(Panel6, "PBotoes", QRect(552, 1, 211, 359), bvRaised, bvNone);
    Panel7 = makePanel(Panel6, "Panel7", QRect(1, 1, 551, 359), bvRaised, bvNone);
    SetControlAlign(StatusPanel, alBottom);
    SetControlAlign(Panel6, alClient);
    SetControlAlign(PBotoes, alRight);
    SetControlAlign(Panel7, alClient);
    CreateMarkerColumn();
    CreateWaveArea();
    CreateCataloguePanel();
    CreateCommentPanel();
    // Tab order follows creation; the marker column is disabled until the first load.
    PBotoes->setEnabled(false);
    // A slightly condensed face lets the longest captions ("Início do Refrão") fit their buttons.
    QFont condensed = PBotoes->font();
    condensed.setStretch(88);
    PBotoes->setFont(condensed);
}

void TFrmTessivo::CreateMarkerColumn() {
    // Three columns framed by thin bevels: show buttons, set buttons with the marker edits,
    // clear buttons. Rows are 27 pixels apart.
    const int top = 8, pitch = 27, rowHeight = 22;
    const int showLeft = 4, setLeft = 29, setWidth = 102, editLeft = 132, editWidth = 48, clearLeft = 186;
    for (QRect r : {QRect(2, 4, 24, 8 * pitch + 6), QRect(27, 4, 156, 8 * pitch + 6),
                    QRect(184, 4, 24, 8 * pitch + 6)}) {
        auto* bevel = new QFrame(PBotoes);
        bevel->setObjectName(QString("Bevel%1").arg(Bevels.size() + 1));
        bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
        bevel->setAttribute(Qt::WA_TransparentForMouseEvents);
        bevel->setGeometry(r);
        Bevels.push_back(bevel);
    }

    struct Row {
        TPNGButton** show;
        const char* showName;
        TPNGButton** set;
        const char* setName;
        const char* caption;
        QLineEdit** edit;
        const char* editName;
        TPNGButton** clear;
        const char* clearName;
    };
    const Row rows[] = {
        {&BFindIntro, "BFindIntro", &SpeedButton1, "SpeedButton1", "Introdução", &EdIntroducao, "EdIntroducao",
         &BLimpaIntro, "BLimpaIntro"},
        {&BFindInicio, "BFindInicio", &SpeedButton9, "SpeedButton9", "Início", &EdInicio, "EdInicio", &BLimpaInicio,
         "BLimpaInicio"},
        {&BFindFim, "BFindFim", &SpeedButton11, "SpeedButton11", "Fim", &EdFim, "EdFim", &BLimpaFim, "BLimpaFim"},
        {&BFindRefInicio, "BFindRefInicio", &SpeedButton10, "SpeedButton10", "Início do Refrão", &EdInicioRefrao,
         "EdInicioRefrao", &BLimpaInicioRefrao, "BLimpaInicioRefrao"},
        {&BFindRefFim, "BFindRefFim", &SpeedButton12, "SpeedButton12", "Final do Refrão", &EdFinalRefrao,
         "EdFinalRefrao", &BLimpaFimRefrao, "BLimpaFimRefrao"},
        {&BFindMix, "BFindMix", &SpeedButton13, "SpeedButton13", "Mixagem", &EdMixagem, "EdMixagem", &BLimpaMixagem,
         "BLimpaMixagem"},
    };
    int y = top;
    for (const Row& r : rows) {
        *r.show = makeImageButton(PBotoes, r.showName, "show", QRect(showLeft, y, 20, rowHeight), {}, SExibirMarcacao);
        *r.set = makeImageButton(PBotoes, r.setName, "set", QRect(setLeft, y, setWidth, rowHeight),
                                 QString::fromUtf8(r.caption));
        (*r.set)->SetMargin(3);
        *r.edit = makeMarkerEdit(PBotoes, r.editName, QRect(editLeft, y, editWidth, rowHeight));
        *r.clear = makeImageButton(PBotoes, r.clearName, "clear", QRect(clearLeft, y, 20, rowHeight), {},
                                   SLimparMarcacao);
        y += pitch;
    }

    // The stamp row: a narrower set button and a wider edit for the jingle's name.
    BFindCarimbo = makeImageButton(PBotoes, "BFindCarimbo", "show", QRect(showLeft, y, 20, rowHeight), {},
                                   SExibirMarcacao);
    SpeedButton14 = makeImageButton(PBotoes, "SpeedButton14", "set", QRect(setLeft, y, 74, rowHeight), "Carimbo");
    SpeedButton14->SetMargin(3);
    EdCarimbo = makeMarkerEdit(PBotoes, "EdCarimbo", QRect(setLeft + 76, y, editLeft + editWidth - setLeft - 76, rowHeight));
    EdCarimbo->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    BLimpaCarimbo = makeImageButton(PBotoes, "BLimpaCarimbo", "clear", QRect(clearLeft, y, 20, rowHeight), {},
                                    SLimparMarcacao);
    y += pitch;

    // The comment row: one set button across the set and edit columns.
    SpeedButton15 = makeImageButton(PBotoes, "SpeedButton15", "set",
                                    QRect(setLeft, y, editLeft + editWidth - setLeft, rowHeight),
                                    QString::fromUtf8("Inserir Comentário"));
    BLimpaComentario = makeImageButton(PBotoes, "BLimpaComentario", "clear", QRect(clearLeft, y, 20, rowHeight),
                                       {}, SLimparMarcacao);

    btnCancelarMarcacoes = makeImageButton(PBotoes, "btnCancelarMarcacoes", "clear", QRect(30, 254, 150, 37),
                                           QString::fromUtf8("Cancelar Marcações"));
    btnGravarMarcacoes = makeImageButton(PBotoes, "btnGravarMarcacoes", "set", QRect(30, 299, 150, 37),
                                         QString::fromUtf8("Gravar Marcações"));
    for (TPNGButton* b : {btnCancelarMarcacoes, btnGravarMarcacoes}) {
        b->SetFlat(false);
        QFont f = b->font();
        f.setBold(true);
        b->setFont(f);
    }
    for (QWidget* bevel : Bevels) bevel->lower();
}

void TFrmTessivo::CreateWaveArea() {
    // Overview frame at the bottom, detail frame above it; ScrollBar1 is docked between them by
    // FormCreate.
    MMPanel2 = makePanel(Panel7, "MMPanel2", QRect(1, 282, 549, 76), bvRaised, bvNone, bsSingle, 3);
    SetControlAlign(MMPanel2, alBottom);
    MMPanel1 = makePanel(Panel7, "MMPanel1", QRect(1, 1, 549, 281), bvRaised, bvLowered, bsSingle, 3);
    MMPanel1->SetColor(clBlack);
    SetControlAlign(MMPanel1, alClient);

    // The detail views: the lower one (right channel) is docked first, hidden until stereo.
    Oscope2 = MakeView(MMPanel1, "Oscope2", QRect(6, 135, 537, 134), okConLines, chRight, clLime, clGreen);
    Oscope2->hide();
    Oscope2->SetAlign(alBottom);
    Oscope1 = MakeView(MMPanel1, "Oscope1", QRect(6, 6, 537, 269), okConLines, chLeft, clLime, clGreen);
    Oscope1->SetAlign(alClient);
    for (TMMOscope* v : {Oscope1, Oscope2}) {
        v->SetDrawMidLine(true);
        v->SetParentColor(true);
    }

    MMPanel3 = makePanel(MMPanel2, "MMPanel3", QRect(5, 5, 539, 58), bvLowered, bvNone);
    MMPanel3->SetParentColor(true);
    SetControlAlign(MMPanel3, alTop);
    MMPanel4 = makePanel(MMPanel2, "MMPanel4", QRect(5, 64, 539, 7), bvLowered, bvNone);
    MMPanel4->SetColor(clBlack);
    SetControlAlign(MMPanel4, alBottom);

    Oscope4 = MakeView(MMPanel3, "Oscope4", QRect(1, 29, 537, 28), okMirLines, chRight, clRed, clMaroon);
    Oscope4->hide();
    Oscope4->SetAlign(alBottom);
    Oscope3 = MakeView(MMPanel3, "Oscope3", QRect(1, 1, 537, 56), okMirLines, chLeft, clBlue, clNavy);
    Oscope3->SetDisabledColor(0x808001);
    Oscope3->SetAlign(alClient);

    Gauge1 = new TMMGauge(MMPanel4);
    Gauge1->setObjectName("Gauge1");
    Gauge1->Bevel()->SetBevelOuter(bvNone);
    Gauge1->SetBackColor(clBlack);
    Gauge1->SetForeColor(clYellow);
    Gauge1->SetShowText(false);
    Gauge1->SetMinValue(0);
    Gauge1->SetMaxValue(100);
    Gauge1->SetAlign(alClient);

    ScrollBar1 = new QScrollBar(Qt::Horizontal, Panel7);
    ScrollBar1->setObjectName("ScrollBar1");
    ScrollBar1->setGeometry(1, 250, 549, 17);
    ScrollBar1->setRange(0, 32767);
    ScrollBar1->setSingleStep(1);
    ScrollBar1->setPageStep(50);
    ScrollBar1->setEnabled(false);
}

void TFrmTessivo::CreateStatusBar() {
    StatusPanel = makePanel(this, "StatusPanel", QRect(0, 361, 764, 32), bvNone, bvRaised, bsNone, 1);
    BInicio = makeGlyphButton(StatusPanel, "BInicio", "start", 3);
    BFim = makeGlyphButton(StatusPanel, "BFim", "end", 31);
    StopBtn = makeGlyphButton(StatusPanel, "StopBtn", "stop", 59);
    PlayBtn = makeGlyphButton(StatusPanel, "PlayBtn", "play", 87);
    PlayBtn->SetGroupIndex(2);
    PlayBtn->SetAllowAllUp(true);
    btnZoomMenos = makeGlyphButton(StatusPanel, "btnZoomMenos", "zoom-out", 121);
    btnZoomMais = makeGlyphButton(StatusPanel, "btnZoomMais", "zoom-in", 149);
    FullViewBtn = makeGlyphButton(StatusPanel, "FullViewBtn", "full-view", 177);

    ZoomSpin = new QSpinBox(StatusPanel);
    ZoomSpin->setObjectName("ZoomSpin");
    ZoomSpin->setGeometry(211, 5, 56, 22);
    ZoomSpin->setRange(1, 99999);
    ZoomSpin->setSingleStep(100);
    ZoomSpin->setValue(1);
    ZoomSpin->setEnabled(false);
    ZoomSpin->hide();

    Status4 = makePanel(StatusPanel, "Status4", QRect(215, 2, 214, 28), bvNone, bvNone, bsNone, 1);
    StatusSize = makePanel(Status4, "StatusSize", QRect(138, 1, 75, 26), bvNone, bvLowered, bsNone, 1);
    StatusTime = makePanel(Status4, "StatusTime", QRect(70, 1, 68, 26), bvNone, bvLowered, bsNone, 1);
    StatusSample = makePanel(Status4, "StatusSample", QRect(1, 1, 69, 26), bvNone, bvLowered, bsNone, 1);
    for (TMMPanel* cell : {StatusSize, StatusTime, StatusSample}) {
        cell->SetAlignment(taLeftJustify);
        cell->SetAlign(alRight);
    }

    SpeedButton16 = makeImageButton(StatusPanel, "SpeedButton16", "close", QRect(676, 2, 86, 28), "Fechar");
    SpeedButton16->SetFlat(false);
    connect(SpeedButton16, &QAbstractButton::clicked, this, &TFrmTessivo::SpeedButton16Click);
}

void TFrmTessivo::CreateCataloguePanel() {
    PVinhetas = makePanel(this, "PVinhetas", QRect(0, 0, 765, 124), bvRaised, bvNone);

    DS_Vinhetas = new TCatalogueRows(this);
    DS_Vinhetas->setObjectName("DS_Vinhetas");

    DBGrid4 = new QTableView(PVinhetas);
    DBGrid4->setObjectName("DBGrid4");
    DBGrid4->setModel(DS_Vinhetas);
    DBGrid4->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid4->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid4->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid4->verticalHeader()->setDefaultSectionSize(18);
    DBGrid4->verticalHeader()->setFixedWidth(12);
    DBGrid4->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    DBGrid4->horizontalHeader()->setHighlightSections(false);
    DBGrid4->setColumnWidth(0, 443);
    DBGrid4->setColumnWidth(1, 67);
    DBGrid4->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The current row stays marked while the search box has the focus.
    QPalette pal = DBGrid4->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
    DBGrid4->setPalette(pal);
    DBGrid4->setGeometry(4, 4, 545, 116);

    LabelLocalizar = new QLabel("Localizar:", PVinhetas);
    LabelLocalizar->setObjectName("LabelLocalizar");
    LabelLocalizar->setGeometry(558, 6, 120, 16);
    EdBuscarVinhetas = new QLineEdit(PVinhetas);
    EdBuscarVinhetas->setObjectName("EdBuscarVinhetas");
    EdBuscarVinhetas->setGeometry(558, 23, 199, 22);
    LabelLocalizar->setBuddy(EdBuscarVinhetas);
    SpeedButton18 = makeImageButton(PVinhetas, "SpeedButton18", "set", QRect(558, 52, 199, 66), "Inserir Carimbo");
    SpeedButton18->SetFlat(false);
    QFont big = SpeedButton18->font();
    big.setPointSize(10);
    big.setBold(true);
    SpeedButton18->setFont(big);
    PVinhetas->hide();
}

void TFrmTessivo::CreateCommentPanel() {
    PComentario = makePanel(this, "PComentario", QRect(0, 0, 765, 124), bvNone, bvNone);
    LabelComentarios = new QLabel(QString::fromUtf8("Comentários do Áudio:"), PComentario);
    LabelComentarios->setObjectName("LabelComentarios");
    LabelComentarios->setGeometry(8, 6, 300, 16);
    MemoComentario = new QPlainTextEdit(PComentario);
    MemoComentario->setObjectName("MemoComentario");
    MemoComentario->setGeometry(8, 24, 553, 89);
    LabelComentarios->setBuddy(MemoComentario);
    SpeedButton19 = makeImageButton(PComentario, "SpeedButton19", "set", QRect(570, 24, 187, 89),
                                    QString::fromUtf8("Gravar Comentário"));
    SpeedButton19->SetFlat(false);
    QFont big = SpeedButton19->font();
    big.setPointSize(10);
    big.setBold(true);
    SpeedButton19->setFont(big);
    PComentario->hide();
}

void TFrmTessivo::CreateComponents() {
    TimerTessivo = new QTimer(this);
    TimerTessivo->setObjectName("TimerTessivo");
    TimerTessivo->setInterval(50);

    ActionList1 = new QObject(this);
    ActionList1->setObjectName("ActionList1");
    Action1 = new QAction("Sair", ActionList1);
    Action1->setObjectName("Action1");
    Action1->setShortcut(QKeySequence(Qt::Key_Escape));
    Action1->setShortcutContext(Qt::WindowShortcut);
    connect(Action1, &QAction::triggered, this, &TFrmTessivo::Action1Execute);
    addAction(Action1);
    Action2 = new QAction(ActionList1);
    Action2->setObjectName("Action2");
    Action2->setShortcut(QKeySequence(Qt::Key_Space));
    Action2->setShortcutContext(Qt::WindowShortcut);
    addAction(Action2);

    MMWaveFile1 = std::make_unique<TMMWaveFile>();
    MMWaveFile1->SetName("MMWaveFile1");
    MMWaveFile1->Wave()->SetIOBufferSize(100000);
    TempFile = std::make_unique<TMMWaveFile>();
    TempFile->SetName("TempFile");
    TempFile->Wave()->SetIOBufferSize(100000);

    DB_Quelt = std::make_unique<TFBDatabase>();
    Trans_Quelt = std::make_unique<TFBTransaction>();
    Q_Vinhetas = std::make_unique<TFBQuery>();
    DB_Quelt->SetDatabaseName(SDefaultDatabaseName);
    DB_Quelt->Params() = {"user_name=SYSDBA", "password=cobaltfin"};
    DB_Quelt->SetSQLDialect(1);
    // A silent server must not hold the window: give up on it after a few seconds.
    DB_Quelt->SetConnectTimeout(5);
    DB_Quelt->SetDefaultTransaction(Trans_Quelt.get());
    Trans_Quelt->SetDefaultDatabase(DB_Quelt.get());
    Trans_Quelt->Params() = {"read_committed", "rec_version", "nowait"};
    Q_Vinhetas->SetDatabase(DB_Quelt.get());
    Q_Vinhetas->SetTransaction(Trans_Quelt.get());
    Q_Vinhetas->SQL() = CatalogueStartSQL();
}

// ---------------------------------------------------------------------------------------
// Handlers
// ---------------------------------------------------------------------------------------

void TFrmTessivo::FormCreate(const QStringList& arguments) {
    if (arguments.isEmpty() || arguments.first().isEmpty()) {
        ShowMessage(QString::fromUtf8(SNenhumAudio));
        terminated_ = true;
        return;
    }
    state_.ArgumentPath = arguments.first();

    const QString iniPath = FindIniFile(programFolder_);
    if (!iniPath.isEmpty()) {
        DB_Quelt->SetDatabaseName(ReadIniString(iniPath, "BANCO", "CAMINHO", ""));
        connectionAttempted_ = true;
        try {
            DB_Quelt->Open();
        } catch (...) {
            ShowMessage(QString::fromUtf8(SFalhaConexao), this);
        }
    }

    state_.Loaded = false;
    state_.Dragging = false;
    state_.Playing = false;

    // Directly under the detail views, above the overview frame.
    ScrollBar1->move(1, 1);
    SetControlAlign(ScrollBar1, alBottom);

    LoadScreenCursors();
}

void TFrmTessivo::LoadScreenCursors() {
    const std::pair<int, const char*> cursors[] = {{1, "CUR_MARK"}, {2, "CUR_ZOOM"}};
    for (const auto& [index, name] : cursors) {
        QImage image;
        std::map<std::string, std::string> text;
        if (!LoadPNGFile(QString(":/cursors/%1.png").arg(name), image, nullptr, &text)) continue;
        int hx = image.width() / 2, hy = image.height() / 2;
        const auto hot = text.find("hotspot");
        if (hot != text.end()) {
            const QStringList xy = QString::fromStdString(hot->second).split(',');
            if (xy.size() == 2) {
                hx = std::clamp(xy[0].trimmed().toInt(), 0, image.width() - 1);
                hy = std::clamp(xy[1].trimmed().toInt(), 0, image.height() - 1);
            }
        }
        screenCursors_[index] = QCursor(QPixmap::fromImage(image), hx, hy);
    }
}

QCursor TFrmTessivo::ScreenCursor(int index) const {
    const auto it = screenCursors_.find(index);
    return it != screenCursors_.end() ? it->second : QCursor(Qt::ArrowCursor);
}

void TFrmTessivo::FormDestroy() {
    // The scratch file Temp.wav stays on disk.
    // The focus watcher calls into this window; the text fields' focus-out, sent while QWidget's
    // destructor deletes them, must not reach a window that is no longer one.
    delete findChild<QObject*>(QStringLiteral("FocusWatcher"), Qt::FindDirectChildrenOnly);
    if (suggestWorker_) suggestWorker_->Cancel();
    if (AutoScrollTimer) AutoScrollTimer->stop();
    ClosePlayback();
    if (state_.Loaded) {
        MMWaveFile1->Wave()->CloseFile();
        state_.Loaded = false;
    }
    DisplayBuffer.clear();
    DisplayBuffer.shrink_to_fit();
}

void TFrmTessivo::Action1Execute() { close(); }

void TFrmTessivo::SpeedButton16Click() { close(); }

void TFrmTessivo::FormClose() { setAttribute(Qt::WA_DeleteOnClose); }

void TFrmTessivo::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}
