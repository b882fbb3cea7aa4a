// Keyboard-first marking and the radio previews: one key per marker (Shift shows it), the
// selection nudged from the keyboard, zoom keys, the wheel over the detail views, the F1 key
// list, the four preview buttons of the marker column with their keys, and StatusMarcas with
// the intro length and the time from the mix to the end.
#include "app/UTessivo.h"

#include "app/Messages.h"
#include "app/PNGButton.h"
#include "audio/MMUtils.h"
#include "audio/MMWave.h"
#include "display/MMOscope.h"
#include "display/MMPanel.h"
#include "tags/MarkerOrder.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSpinBox>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace {

// Nudge steps in ms: plain and with Ctrl.
constexpr int32_t kNudgeMs = 10, kNudgeCtrlMs = 100;
// Preview lengths in ms.
constexpr int64_t kPreviewStartMs = 5000, kPreviewEndMs = 5000, kPreviewMixMs = 3000;

// The wheel over a detail view: zoom around the pointer, with Ctrl scroll. Angle deltas are
// summed, so that a fine wheel or a touchpad steps once per notch too.
class TWheelWatcher : public QObject {
public:
    TWheelWatcher(QObject* parent, std::function<void(int x, int steps, bool ctrl)> wheel)
        : QObject(parent), wheel_(std::move(wheel)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel) return QObject::eventFilter(watched, event);
        auto* e = static_cast<QWheelEvent*>(event);
        const QPoint delta = e->angleDelta();
        sum_ += delta.y() != 0 ? delta.y() : -delta.x();
        const int steps = sum_ / QWheelEvent::DefaultDeltasPerStep;
        sum_ -= steps * QWheelEvent::DefaultDeltasPerStep;
        if (steps != 0) wheel_(int(std::lround(e->position().x())), steps, e->modifiers() & Qt::ControlModifier);
        e->accept();
        return true;
    }

private:
    std::function<void(int, int, bool)> wheel_;
    int sum_ = 0;
};

// One row of the key list.
struct TKeyLine {
    const char* keys;
    const char* action;
};

const TKeyLine kKeyList[] = {
    {"I", "marcar Introdução (Shift+I: exibir)"},
    {"S", "marcar Início (Shift+S: exibir)"},
    {"F", "marcar Fim (Shift+F: exibir)"},
    {"R", "marcar Início do Refrão (Shift+R: exibir)"},
    {"T", "marcar Final do Refrão (Shift+T: exibir)"},
    {"M", "marcar Mixagem (Shift+M: exibir)"},
    {"← →", "início da seleção ±10 ms (Ctrl: 100 ms)"},
    {"Shift+← →", "fim da seleção ±10 ms (Ctrl: 100 ms)"},
    {"1", "ouvir os 5 s a partir do Início"},
    {"2", "ouvir o Refrão"},
    {"3", "ouvir 3 s antes e depois da Mixagem"},
    {"4", "ouvir os 5 s antes do Fim"},
    {"Espaço", "tocar ou parar"},
    {"+  −", "aproximar, afastar"},
    {"0", "ver o áudio inteiro"},
    {"Roda do mouse", "aproximar no ponteiro (Ctrl: rolar)"},
    {"F1", "esta lista"},
    {"Esc", "sair"},
};

const char* const SFaltaMarcacao = "Falta a marcação %1";
const char* const SMarcacaoInvalida = "%1 não é um tempo";
const char* const SNadaAOuvir = "Nada a ouvir: %1";

}  // namespace

// ---------------------------------------------------------------------------------------
// Set-up

void TFrmTessivo::CreateKeyboard() {
    auto add = [this](std::initializer_list<QKeySequence> keys, std::function<void()> run) {
        auto* a = new QAction(ActionList1);
        a->setShortcuts(QList<QKeySequence>(keys));
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, [this, run] {
            if (KeysAllowed()) run();
        });
        addAction(a);
        return a;
    };
    // The markers: the key sets as the button does, Shift shows.
    const struct {
        Qt::Key key;
        TPNGButton* set;
        TPNGButton* show;
    } markers[] = {{Qt::Key_I, SpeedButton1, BFindIntro},    {Qt::Key_S, SpeedButton9, BFindInicio},
                   {Qt::Key_F, SpeedButton11, BFindFim},     {Qt::Key_R, SpeedButton10, BFindRefInicio},
                   {Qt::Key_T, SpeedButton12, BFindRefFim},  {Qt::Key_M, SpeedButton13, BFindMix}};
    for (const auto& m : markers) {
        add({QKeySequence(m.key)}, [b = m.set] { b->click(); });
        add({QKeySequence(Qt::SHIFT | m.key)}, [b = m.show] { b->click(); });
        const QString key = QKeySequence(m.key).toString();
        m.set->setToolTip(QString::fromUtf8("Marcar: tecla %1 (exibir: Shift+%1)").arg(key));
    }
    // The nudge.
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        bool end;
        int32_t ms;
    } nudges[] = {{Qt::Key_Left, {}, false, -kNudgeMs},
                  {Qt::Key_Right, {}, false, kNudgeMs},
                  {Qt::Key_Left, Qt::ControlModifier, false, -kNudgeCtrlMs},
                  {Qt::Key_Right, Qt::ControlModifier, false, kNudgeCtrlMs},
                  {Qt::Key_Left, Qt::ShiftModifier, true, -kNudgeMs},
                  {Qt::Key_Right, Qt::ShiftModifier, true, kNudgeMs},
                  {Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier, true, -kNudgeCtrlMs},
                  {Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier, true, kNudgeCtrlMs}};
    for (const auto& n : nudges)
        add({QKeySequence(n.mods | n.key)}, [this, n] { NudgeBoundary(n.end, n.ms); });
    // Zoom: + (also = and Shift+=, where + lies on many keyboards), -, 0; the keypad's too.
    auto centre = [this] { return Oscope1->width() / 2; };
    add({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal), QKeySequence(Qt::SHIFT | Qt::Key_Equal),
         QKeySequence(Qt::KeypadModifier | Qt::Key_Plus)},
        [this, centre] { ZoomAround(centre(), 1); });
    add({QKeySequence(Qt::Key_Minus), QKeySequence(Qt::KeypadModifier | Qt::Key_Minus)},
        [this, centre] { ZoomAround(centre(), -1); });
    add({QKeySequence(Qt::Key_0), QKeySequence(Qt::KeypadModifier | Qt::Key_0)},
        [this] { FullViewBtn->click(); });
    // The key list is harmless anywhere, also over a text field.
    auto* help = new QAction(ActionList1);
    help->setShortcut(QKeySequence(Qt::Key_F1));
    help->setShortcutContext(Qt::WindowShortcut);
    connect(help, &QAction::triggered, this, &TFrmTessivo::ShowKeyList);
    addAction(help);

    auto* wheel = new TWheelWatcher(this, [this](int x, int steps, bool ctrl) {
        if (ctrl)
            ScrollDetail(-steps);  // the wheel away from the operator goes back in the song
        else
            ZoomAround(x, steps);
    });
    Oscope1->installEventFilter(wheel);
    Oscope2->installEventFilter(wheel);
}

bool TFrmTessivo::KeysAllowed() const {
    // The rule of Space: off while the memo, the search box or a marker edit has the focus.
    return Action2->isEnabled();
}

// ---------------------------------------------------------------------------------------
// Nudge, zoom and scroll

void TFrmTessivo::NudgeBoundary(bool end, int32_t ms) {
    const WAVEFORMATEX* format = MMWaveFile1->Wave()->PWaveFormat();
    if (!state_.Loaded || state_.Dragging || !format) return;
    const int64_t frames = MsToSamples64(format, std::abs(ms));
    if (!state_.Nudge(end, int32_t(ms < 0 ? -frames : frames))) return;
    const int32_t at = end ? state_.SelEnd : state_.SelStart;
    const int32_t x = SampleToPixel(at), z = Zoom(), w = Oscope1->width();
    if ((x < 0 || x >= w) && !state_.Playing) {
        // The moved boundary left the view: the view follows, the boundary in its middle.
        state_.ViewOffset = int32_t(std::max<int64_t>(0, int64_t(at) - int64_t(z) * (w / 2)));
        ScrollBar1->setValue(state_.ViewOffset / std::max(state_.ScrollDivisor, 1));
        RefreshDetailView();
    }
    ShowSelection(true);
    StatusSample->SetCaption(SampleToTimeText(at));
    // As after a mouse release: playback goes on from the new selection.
    if (TempFile->IsStarted()) {
        StopBtn->click();
        PlayBtn->click();
    }
}

void TFrmTessivo::ZoomAround(int x, int steps) {
    if (!state_.Loaded || !ZoomSpin->isEnabled() || steps == 0) return;
    const int64_t z = Zoom();
    const double factor = std::pow(2.0, -steps);
    const int32_t to = int32_t(std::clamp<int64_t>(std::llround(double(z) * factor), 1, ZoomSpin->maximum()));
    if (to == z) return;
    x = std::clamp(x, 0, Oscope1->width() - 1);
    const int64_t frame = int64_t(state_.ViewOffset) + int64_t(x) * z;
    state_.ViewOffset = int32_t(std::clamp<int64_t>(frame - int64_t(x) * to, 0, state_.TotalSamples));
    ZoomSpin->setValue(to);  // ZoomSpinChange draws the view
    ScrollBar1->setValue(state_.ViewOffset / std::max(state_.ScrollDivisor, 1));
}

void TFrmTessivo::ScrollDetail(int steps) {
    if (!state_.Loaded || state_.Playing || steps == 0) return;
    const int64_t z = Zoom(), w = Oscope1->width();
    const int64_t last = std::max<int64_t>(0, int64_t(state_.TotalSamples) - z * (w - 1));
    const int32_t to = int32_t(std::clamp<int64_t>(state_.ViewOffset + steps * z * w / 8, 0, last));
    if (to == state_.ViewOffset) return;
    state_.ViewOffset = to;
    ScrollBar1->setValue(to / std::max(state_.ScrollDivisor, 1));
    RefreshDetailView();
}

// ---------------------------------------------------------------------------------------
// Key list

QString TFrmTessivo::KeyListText() {
    QStringList lines;
    for (const TKeyLine& k : kKeyList) lines << QString::fromUtf8(k.keys) + "\t" + QString::fromUtf8(k.action);
    return lines.join('\n');
}

std::unique_ptr<QMessageBox> TFrmTessivo::KeyListBox() {
    QString html = "<table cellspacing='0' cellpadding='2'>";
    for (const TKeyLine& k : kKeyList)
        html += "<tr><td><b>" + QString::fromUtf8(k.keys).toHtmlEscaped() + "</b>&nbsp;&nbsp;</td><td>" +
                QString::fromUtf8(k.action).toHtmlEscaped() + "</td></tr>";
    html += "</table>";
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QString::fromUtf8("Teclas"), html, QMessageBox::Ok,
                                             this);
    box->setTextFormat(Qt::RichText);
    box->setObjectName("KeyList");
    return box;
}

void TFrmTessivo::ShowKeyList() {
    if (MessagesRedirected()) {
        ShowMessage(KeyListText(), this);
        return;
    }
    KeyListBox()->exec();
}

// ---------------------------------------------------------------------------------------
// Previews and StatusMarcas

void TFrmTessivo::CreatePreviews() {
    // One row of small buttons between the comment row and "Cancelar Marcações".
    const struct {
        TPNGButton** button;
        const char* name;
        const char* caption;
        const char* hint;
        Qt::Key key;
        void (TFrmTessivo::*handler)();
    } previews[] = {
        {&BOuvirInicio, "BOuvirInicio", "Início", "Ouvir os 5 s a partir do Início (tecla 1)", Qt::Key_1,
         &TFrmTessivo::BOuvirInicioClick},
        {&BOuvirRefrao, "BOuvirRefrao", "Refrão", "Ouvir do Início ao Final do Refrão (tecla 2)", Qt::Key_2,
         &TFrmTessivo::BOuvirRefraoClick},
        {&BOuvirMixagem, "BOuvirMixagem", "Mix", "Ouvir 3 s antes e 3 s depois da Mixagem (tecla 3)", Qt::Key_3,
         &TFrmTessivo::BOuvirMixagemClick},
        {&BOuvirFim, "BOuvirFim", "Fim", "Ouvir os 5 s antes do Fim (tecla 4)", Qt::Key_4,
         &TFrmTessivo::BOuvirFimClick},
    };
    int left = 29;
    for (const auto& p : previews) {
        auto* b = new TPNGButton(PBotoes);
        b->setObjectName(p.name);
        b->SetCaption(QString::fromUtf8(p.caption));
        b->setToolTip(QString::fromUtf8(p.hint));
        b->SetMargin(-1);
        b->SetFlat(false);
        QFont f = b->font();
        f.setPointSizeF(f.pointSizeF() * 0.85);
        b->setFont(f);
        b->setGeometry(left, 225, 36, 22);
        left += 38;
        *p.button = b;
        ConnectGuarded(b, p.handler);
        auto* a = new QAction(ActionList1);
        a->setShortcut(QKeySequence(p.key));
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, [this, b] {
            if (KeysAllowed()) b->click();
        });
        addAction(a);
    }

    StatusMarcas = new TMMPanel(StatusPanel);
    StatusMarcas->setObjectName("StatusMarcas");
    StatusMarcas->Bevel()->BeginUpdate();
    StatusMarcas->Bevel()->SetBevelOuter(bvNone);
    StatusMarcas->Bevel()->SetBevelInner(bvLowered);
    StatusMarcas->Bevel()->SetBorderStyle(bsNone);
    StatusMarcas->Bevel()->SetBorderWidth(1);
    StatusMarcas->Bevel()->EndUpdate();
    StatusMarcas->SetAlignment(taLeftJustify);
    StatusMarcas->SetBounds(432, 3, 240, 26);
    // The edits show the marker texts: every change of them is a change of the markers.
    for (QLineEdit* e : {EdInicio, EdIntroducao, EdMixagem, EdFim})
        connect(e, &QLineEdit::textChanged, this, &TFrmTessivo::UpdateMarkerStatus);
}

void TFrmTessivo::UpdateMarkerStatus() {
    auto ms = [](const QLineEdit* e, int64_t& v) { return MarkerTimeMs(e->text().toStdString(), v); };
    auto length = [](int64_t d) {
        return QString::fromStdString((d < 0 ? "-" : "") + FormatTimeMs(std::abs(d)));
    };
    QStringList parts;
    int64_t a = 0, b = 0;
    if (ms(EdInicio, a) && ms(EdIntroducao, b)) parts << "Intro " + length(b - a);
    if (ms(EdMixagem, a) && ms(EdFim, b)) parts << QString::fromUtf8("Mix→Fim ") + length(b - a);
    StatusMarcas->SetCaption(parts.join(QString::fromUtf8(" · ")));
}

bool TFrmTessivo::PreviewMarker(const QString& text, const char* name, int64_t& ms) {
    if (text.isEmpty()) {
        StatusMarcas->SetCaption(QString::fromUtf8(SFaltaMarcacao).arg(QString::fromUtf8(name)));
        return false;
    }
    if (!MarkerTimeMs(text.toStdString(), ms)) {
        StatusMarcas->SetCaption(QString::fromUtf8(SMarcacaoInvalida).arg(QString::fromUtf8(name)));
        return false;
    }
    return true;
}

void TFrmTessivo::PlayPreview(int64_t fromMs, int64_t toMs) {
    const WAVEFORMATEX* format = MMWaveFile1->Wave()->PWaveFormat();
    if (!format) return;
    auto frame = [&](int64_t ms) {
        return int32_t(std::clamp<int64_t>(MsToSamples64(format, std::max<int64_t>(ms, 0)), 0, state_.TotalSamples));
    };
    const int32_t from = frame(fromMs), to = frame(toMs);
    if (to <= from) {
        StatusMarcas->SetCaption(
            QString::fromUtf8(SNadaAOuvir).arg(QString::fromStdString(FormatTimeMs(std::max<int64_t>(fromMs, 0)))));
        return;
    }
    if (TempFile->IsStarted()) StopBtn->click();
    state_.LiveStart = state_.SelStart = from;
    state_.LiveEnd = state_.SelEnd = to;
    // The views show what is heard: the range starts a tenth into the detail view when it
    // was not in it.
    const int32_t z = Zoom(), w = Oscope1->width();
    if (SampleToPixel(from) < 0 || SampleToPixel(from) >= w) {
        state_.ViewOffset = int32_t(std::max<int64_t>(0, int64_t(from) - int64_t(z) * (w / 10)));
        ScrollBar1->setValue(state_.ViewOffset / std::max(state_.ScrollDivisor, 1));
        RefreshDetailView();
    }
    ShowSelection(true);
    StatusSample->SetCaption(SampleToTimeText(from));
    UpdateMarkerStatus();
    PlayBtn->click();
}

void TFrmTessivo::BOuvirInicioClick() {
    int64_t start = 0;
    if (state_.Loaded && PreviewMarker(EdInicio->text(), "Início", start)) PlayPreview(start, start + kPreviewStartMs);
}

void TFrmTessivo::BOuvirRefraoClick() {
    int64_t from = 0, to = 0;
    if (state_.Loaded && PreviewMarker(EdInicioRefrao->text(), "Início do Refrão", from) &&
        PreviewMarker(EdFinalRefrao->text(), "Final do Refrão", to))
        PlayPreview(from, to);
}

void TFrmTessivo::BOuvirMixagemClick() {
    int64_t mix = 0;
    if (state_.Loaded && PreviewMarker(EdMixagem->text(), "Mixagem", mix))
        PlayPreview(mix - kPreviewMixMs, mix + kPreviewMixMs);
}

void TFrmTessivo::BOuvirFimClick() {
    int64_t end = 0;
    if (state_.Loaded && PreviewMarker(EdFim->text(), "Fim", end)) PlayPreview(end - kPreviewEndMs, end);
}
