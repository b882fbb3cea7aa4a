// Suggested markers: the analysis of the loaded song runs on a worker after the import; its
// start, end and mix point are offered as ghosts of the rows that are empty (a dashed line in
// every view, the time greyed in the row's edit with the hint "sugerido"). Enter in a ghost's
// edit, or a click on the row's show button, takes it as the marker; a marker the row holds
// (read from the tag or set) is never replaced, and nothing reaches the file unless accepted
// and saved.
#include "app/UTessivo.h"

#include "analysis/MarkerSuggest.h"
#include "app/SuggestWorker.h"
#include "audio/MMUtils.h"
#include "audio/MMWave.h"
#include "display/MMPanel.h"

#include <QLineEdit>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstdlib>

const char* const SSugerido = "sugerido";

namespace {

// The rows a suggestion can fill: Início, Fim and Mixagem.
constexpr int kStartRow = 1, kEndRow = 2, kMixRow = 5;

QString Decimal(double value) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', 1);
}

// The loudness figures as the duration panel's hint.
QString LoudnessHint(const TMarkerSuggestions& s) {
    if (!std::isfinite(s.IntegratedLufs)) return QString::fromUtf8("Sem sugestões: silêncio");
    QString text = QString::fromUtf8("Sonoridade integrada %1 LUFS, pico real %2 dBTP")
                       .arg(Decimal(s.IntegratedLufs), Decimal(s.TruePeakDbtp));
    if (s.Ending == TEnding::Fade) text += QString::fromUtf8(", final em fade");
    if (s.Ending == TEnding::Cold) text += QString::fromUtf8(", final seco");
    return text;
}

}  // namespace

void TFrmTessivo::CreateSuggestions() {
    suggestWorker_ = std::make_unique<TSuggestWorker>([this](const TMarkerSuggestions& s) { SuggestionsReady(s); });
    // A ghost's edit takes the focus (the others stay disabled); Enter there accepts it.
    for (const int row : {kStartRow, kEndRow, kMixRow})
        connect(MarkerEdit(row), &QLineEdit::returnPressed, this, [this, row] { AcceptGhost(row); });
}

void TFrmTessivo::StartSuggestions() {
    // For benches that time the load without it.
    if (const char* off = std::getenv("TESSIVO_NO_SUGGEST"); off && *off) return;
    if (state_.Loaded) suggestWorker_->Start(MMWaveFile1->Wave()->FileName());
}

void TFrmTessivo::CancelSuggestions() {
    if (suggestWorker_) suggestWorker_->Cancel();
    suggested_.fill(-1);
    if (StatusTime) StatusTime->setToolTip(QString());
    ShowGhosts();
}

bool TFrmTessivo::SuggestionsPending() const { return suggestWorker_ && suggestWorker_->Busy(); }

void TFrmTessivo::SuggestionsReady(const TMarkerSuggestions& s) {
    const WAVEFORMATEX* format = MMWaveFile1->Wave()->PWaveFormat();
    if (!state_.Loaded || !format) return;
    auto frame = [&](const std::optional<double>& seconds) {
        if (!seconds) return int32_t(-1);
        return int32_t(std::clamp<int64_t>(std::llround(*seconds * format->nSamplesPerSec), 0, state_.TotalSamples));
    };
    suggested_.fill(-1);
    suggested_[kStartRow] = frame(s.Start);
    suggested_[kEndRow] = frame(s.End);
    suggested_[kMixRow] = frame(s.Mix);
    StatusTime->setToolTip(LoudnessHint(s));
    ShowGhosts();
}

int32_t TFrmTessivo::SuggestedFrame(int row) const { return row >= 0 && row < 6 ? suggested_[size_t(row)] : -1; }

bool TFrmTessivo::ShowsGhost(int row) const {
    return state_.Loaded && SuggestedFrame(row) >= 0 && MarkerEdit(row)->text().isEmpty();
}

void TFrmTessivo::AcceptGhost(int row) {
    if (ShowsGhost(row)) SetMarkerAt(row, suggested_[size_t(row)]);
}

void TFrmTessivo::ShowGhosts() {
    if (!EdIntroducao) return;  // the window is still being built
    int shown = 0;
    for (int row = 0; row < 6; ++row) {
        QLineEdit* edit = MarkerEdit(row);
        const bool ghost = ShowsGhost(row);
        if (ghost) shown |= 1 << row;
        edit->setPlaceholderText(ghost ? SampleToTimeText(suggested_[size_t(row)]) : QString());
        edit->setToolTip(ghost ? QString::fromUtf8(SSugerido) : edit->text());
        edit->setEnabled(ghost);
    }
    // The lines are drawn after each frame: a new frame of every view shows the ghosts as now.
    if (shown != ghostsDrawn_ && state_.Loaded && state_.ViewsReady) ShowSelection(true);
    ghostsDrawn_ = shown;
}
