// Loading the audio into the editor: the import dialog writes Temp.wav, MMWaveFile1 opens it
// for the views, and the file-information module reads the markers of the audio file itself.
#include "app/UTessivo.h"

#include "app/CommentText.h"
#include "app/Messages.h"
#include "app/PNGButton.h"
#include "app/WaveViewData.h"
#include "audio/MMUtils.h"
#include "audio/MMWavOut.h"
#include "audio/MMWave.h"
#include "db/FBDatabase.h"
#include "display/MMOscope.h"
#include "display/MMPanel.h"
#include "import/U_Mp3ToWav.h"
#include "platform/FileNames.h"
#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"
#include "tags/U_Funcoes.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShowEvent>
#include <QSpinBox>

#include <cstdio>
#include <cstdlib>

namespace {

const char* const SFormatoInvalido = "Formato de arquivo inválido.";

// A number as the status panel shows it: the locale's decimal separator, no grouping.
QString LocaleFixed(double value, int decimals) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

}  // namespace

void TFrmTessivo::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (formShown_ || terminated_) return;
    formShown_ = true;
    try {
        FormShow();
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()), this);
    }
}

void TFrmTessivo::FormShow() { LoadAudio(); }

QString TFrmTessivo::SampleToTimeText(int32_t sample) const {
    const WAVEFORMATEX* format = MMWaveFile1->Wave()->PWaveFormat();
    const int64_t ms = format ? SamplesToMs(format, sample) : 0;
    return QString::fromStdString(FormatTimeMs(ms));
}

bool TFrmTessivo::ImportAudio() {
    state_.AudioPath = state_.ArgumentPath;
    // The import writes Temp.wav from its start. The shown (and played) Temp.wav is moved
    // aside first: its open handles keep reading the old data while the new file is written
    // under the name, and it goes away with the last handle. Should the import leave no new
    // file, the old one is put back.
    const QString temp = TempWavFileName(programFolder_);
    const QString previous = temp + ".prev";
    bool movedAside = false;
    if (QFileInfo::exists(temp) && (MMWaveFile1->Wave()->WaveIO() || TempFile->Wave()->WaveIO())) {
        QFile::remove(previous);
        movedAside = QFile::rename(temp, previous);
    }
    struct Restore {
        bool moved;
        QString temp, previous;
        ~Restore() {
            if (!moved) return;
            if (QFileInfo::exists(temp))
                QFile::remove(previous);
            else
                QFile::rename(previous, temp);
        }
    } restore{movedAside, temp, previous};

    auto dialog = std::make_unique<TFrmMp3ToWav>(this);
    dialog->SetProgramFolder(programFolder_);
    dialog->ReportError = [](QWidget* parent, const QString& text) { ShowErrorBox(text, parent); };
    dialog->StartImport(state_.AudioPath);
    dialog->exec();
    return !dialog->Failed();
}

void TFrmTessivo::LoadAudio() {
    if (!IsRegularFile(state_.ArgumentPath)) {
        ShowMessage(QString::fromUtf8(SArquivoNaoEncontrado), this);
        terminated_ = true;
        if (ExitProcess) {
            ExitProcess(0);
        } else {
            std::fflush(nullptr);
            std::_Exit(0);
        }
        return;
    }
    // The import rewrites Temp.wav, which the output may be reading: stop before it. The
    // suggestions of the song shown go too (their analysis may still be reading it).
    MMWaveOut1->Stop();
    CancelSuggestions();
    bool imported = false;
    // A failed import was reported by the dialog and left no Temp.wav to show: the shown file
    // (if any) stays, and only the markers are read.
    if (ImportAudio()) {
        try {
            TMMWave* wave = MMWaveFile1->Wave();
            if (state_.Loaded) wave->CloseFile();
            state_.Loaded = false;
            wave->Clear();  // the new Temp.wav may have the old one's size
            wave->SetFileName(TempWavFileName(programFolder_).toStdString());
            if (wave->FormatTag() != 1) throw EMMWaveError(SFormatoInvalido);
            wave->OpenFile();
            for (TMMOscope* v : {Oscope1, Oscope2, Oscope3, Oscope4}) v->ResetDisplay();
            const TMMMode mode = wave->Mode();
            for (TMMOscope* v : {Oscope1, Oscope2, Oscope3, Oscope4}) v->SetMode(mode);
            if (mode == mStereo) {
                Oscope2->show();
                Oscope4->show();
                Oscope1->SetChannel(chLeft);
                Oscope3->SetChannel(chLeft);
                Oscope2->SetChannel(chRight);
                Oscope4->SetChannel(chRight);
            } else {
                Oscope2->hide();
                Oscope4->hide();
                for (TMMOscope* v : {Oscope1, Oscope2, Oscope3, Oscope4}) v->SetChannel(chBoth);
            }
            const uint16_t bits = wave->BitLength();
            if (bits == 8 || bits == 16) {
                state_.SilenceLevel = bits == 8 ? 128 : 0;
                for (TMMOscope* v : {Oscope1, Oscope2, Oscope3, Oscope4}) v->SetBitLength(bits == 8 ? b8Bit : b16Bit);
            }
            const WAVEFORMATEX* format = wave->PWaveFormat();
            state_.FrameSize = uint8_t(SampleSize(format));
            state_.TotalSamples = int32_t(wave->WaveIO()->DataSamples);

            StatusTime->SetCaption(LocaleFixed(SamplesToMs(format, state_.TotalSamples) / 1000.0, 2) + " Sec");
            StatusSize->SetCaption(LocaleFixed(QFileInfo(QString::fromStdString(wave->FileName())).size() / 1024.0, 1) +
                                   " Kb");
            StatusSample->SetCaption(SampleToTimeText(0));

            state_.ScrollDivisor = ScrollDivisorFor(state_.TotalSamples);
            state_.ResetSelection(state_.TotalSamples);
            const int32_t maxZoom = FitZoom(state_.TotalSamples, ViewSampleCount(Oscope1));
            ZoomSpin->setMaximum(maxZoom);
            ZoomSpin->setValue(maxZoom);
            ScrollBar1->setValue(0);
            state_.Loaded = true;
            LayoutViews();
            ShowSelection(true);
            if (MMWaveOut1->NumDevs() > 0) {
                PlayBtn->setEnabled(true);
                BInicio->setEnabled(true);
                BFim->setEnabled(true);
            }
            for (QWidget* c : std::initializer_list<QWidget*>{btnZoomMenos, btnZoomMais, FullViewBtn, ZoomSpin})
                c->setEnabled(true);
            Oscope3->setCursor(ScreenCursor(2));
            Oscope4->setCursor(ScreenCursor(2));
            imported = true;
        } catch (const std::exception& e) {
            ShowMessage(QString::fromUtf8(e.what()), this);
        }
    }

    PBotoes->setEnabled(true);
    try {
        OpenAudioInfo("MP3");
        ReadAudioInfo(FileNameBytes(state_.AudioPath));
        FillMarkersFromTag();
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()), this);
    }
    PVinhetas->hide();
    PComentario->hide();
    Panel6->raise();
    // The waveform is on the screen: the analysis runs beside the operator's work.
    if (imported) StartSuggestions();
}

void TFrmTessivo::FillMarkersFromTag() {
    SetMarkerEditText(EdCarimbo, QString());
    const TID3v2* tag = MpegInfo ? &MpegInfo->Id3v2Tag() : nullptr;
    auto text = [tag](const std::string& (TID3v2::*get)() const) {
        return tag ? QString::fromStdString((tag->*get)()) : QString();
    };
    SetMarkerEditText(EdIntroducao, text(&TID3v2::IntroMark));
    SetMarkerEditText(EdInicio, text(&TID3v2::StartMark));
    SetMarkerEditText(EdFim, text(&TID3v2::EndMark));
    SetMarkerEditText(EdInicioRefrao, text(&TID3v2::ChorusStartMark));
    SetMarkerEditText(EdFinalRefrao, text(&TID3v2::ChorusEndMark));
    SetMarkerEditText(EdMixagem, text(&TID3v2::MixMark));
    MemoComentario->setPlainText(tag ? CommentForMemo(tag->Comment()) : QString());
    state_.IntroText = EdIntroducao->text();
    state_.StartText = EdInicio->text();
    state_.EndText = EdFim->text();
    state_.ChorusStartText = EdInicioRefrao->text();
    state_.ChorusEndText = EdFinalRefrao->text();
    state_.MixText = EdMixagem->text();
    state_.StampFileText = text(&TID3v2::StampFile);
    state_.StampTimeText = text(&TID3v2::StampMark);

    state_.CommentText = MemoComentario->toPlainText();

    // The stamp jingle's name only: a catalogue that cannot be asked (none configured, not
    // reachable, not a catalogue) leaves the name box empty, says so once, and changes nothing
    // else; the stamp texts stay as read and are saved back unchanged.
    if (!state_.StampFileText.isEmpty()) {
        try {
            Q_Vinhetas->Close();
            Q_Vinhetas->Open();
            const int slash = state_.StampFileText.indexOf('\\');
            const QString key = (slash >= 0 ? state_.StampFileText.mid(slash + 1) : state_.StampFileText).trimmed();
            if (Q_Vinhetas->Locate("VIN_ARQUIVO", key.toStdString(), loPartialKey))
                SetMarkerEditText(EdCarimbo, QString::fromStdString(Q_Vinhetas->FieldByName("VIN_NOME").AsString()));
        } catch (const std::exception&) {
            SetMarkerEditText(EdCarimbo, QString());
            ShowMessage(QString::fromUtf8(SFalhaConexao), this);
        }
    }
}
