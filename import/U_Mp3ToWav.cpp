#include "import/U_Mp3ToWav.h"

#include "audio/MMWave.h"
#include "common/MMControls.h"
#include "display/MMGauge.h"
#include "display/MMPanel.h"
#include "import/MMAudio.h"
#include "import/MMMPEG.h"
#include "import/MMTrigg.h"
#include "platform/FileNames.h"
#include "platform/MessageWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>

#include <cmath>
#include <exception>

const char* const SImportWriteFailed =
    "Não foi possível gravar o arquivo temporário Temp.wav: o disco está cheio ou ocorreu um erro "
    "de gravação. A importação foi cancelada.";
const char* const SImportFailed = "Erro ao importar o arquivo de áudio. A importação foi cancelada.";

namespace {

constexpr int32_t kImportBufferSize = 32768;
constexpr uint32_t kProgressMessage = WM_APP + 1;
const char* const kDialogTitle = "Tessivo - Quelt Sistemas";

}  // namespace

QString TempWavFileName(const QString& folder) {
    QString dir = folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
    const QFileInfo info(dir);
    // An installed program never writes into the system's program folder, not even as root: the
    // file would outlive the package.
    static const QStringList shared = {"/bin", "/sbin", "/usr/bin", "/usr/sbin", "/usr/local/bin", "/usr/games"};
    if (!info.isDir() || !info.isWritable() || shared.contains(info.canonicalFilePath())) {
        dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        QDir().mkpath(dir);
    }
    return QDir(dir).filePath("Temp.wav");
}

TFrmMp3ToWav::TFrmMp3ToWav(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("FrmMp3ToWav");
    setWindowTitle("MP3ToWave");
    setModal(true);
    setFixedSize(225, 62);
    QFont font("MS Sans Serif");
    font.setPointSize(8);
    setFont(font);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, MMColor(clBtnFace));
    setPalette(pal);
    setAutoFillBackground(true);

    Panel1 = new TMMPanel(this);
    Panel1->setObjectName("Panel1");
    Panel1->Bevel()->SetBevelOuter(bvRaised);
    Panel1->Bevel()->SetBevelInner(bvRaised);
    Panel1->Bevel()->SetBevelOuterWidth(2);
    Panel1->Bevel()->SetBevelInnerWidth(2);
    Panel1->SetBounds(0, 0, 225, 62);
    Panel1->SetAlign(alClient);

    Label1 = new QLabel(QString::fromUtf8("Aguarde Importando Arquivo"), Panel1);
    Label1->setObjectName("Label1");
    Label1->setGeometry(15, 10, 199, 16);
    QFont bold = font;
    bold.setPointSize(10);
    bold.setBold(true);
    Label1->setFont(FitFont(bold, Label1->text(), Label1->contentsRect().width()));

    Gauge = new TMMGauge(Panel1);
    Gauge->setObjectName("Gauge");
    Gauge->SetBounds(8, 30, 206, 20);
    Gauge->SetKind(gkHorizontalBar);
    Gauge->SetMinValue(0);
    Gauge->SetMaxValue(100);
    Gauge->SetBackColor(clBtnFace);
    Gauge->Bevel()->SetBevelOuter(bvLowered);
    Gauge->Bevel()->SetBevelOuterWidth(1);
    Gauge->Bevel()->SetBevelInner(bvNone);
    Gauge->Bevel()->SetBorderStyle(bsNone);

    // Progress travels to the main thread the way the trigger's stop does, so it arrives in
    // order before the stop.
    progressWindow_ = std::make_unique<MessageWindow>([this](uint32_t msg, uintptr_t value, intptr_t) {
        if (msg == kProgressMessage) Gauge->SetProgress(int32_t(value));
    });

    ReportError = [](QWidget* parent, const QString& text) {
        QMessageBox::critical(parent, QString::fromUtf8(kDialogTitle), text);
    };

    audioFile_ = std::make_unique<TMMAudioFile>();
    audioFile_->SetName("AudioFile");
    audioFile_->SetMpegTrailingHeader(0);
    trigger_ = std::make_unique<TMMTrigger>();
    trigger_->SetName("Trigger");
    waveFile_ = std::make_unique<TMMWaveFile>();
    waveFile_->SetName("WaveFile");
    waveFile_->Wave()->SetFileMustExist(false);

    audioFile_->SetOutput(trigger_.get());
    trigger_->SetOutput(waveFile_.get());
    trigger_->SetBufferSize(kImportBufferSize);
    trigger_->OnBufferReady = [this](TMMComponent* sender, TMMWaveHdr* buffer) { TriggerBufferReady(sender, buffer); };
    trigger_->OnStop = [this](TMMComponent* sender) { TriggerStop(sender); };
    // Raised in this (the main) thread while the worker waits: the chain runs on without
    // writing, so stop it at once instead of decoding the rest for nothing.
    waveFile_->OnWriteError = [this](TMMComponent*) {
        writeError_ = true;
        if (trigger_->IsTriggerStarted()) trigger_->Stop();
    };
}

TFrmMp3ToWav::~TFrmMp3ToWav() {
    // Nothing may call back into the half-destroyed dialog.
    trigger_->OnBufferReady = nullptr;
    trigger_->OnStop = nullptr;
    waveFile_->OnWriteError = nullptr;
    const bool unfinished = running_;
    trigger_.reset();  // closes the chain and joins the worker
    waveFile_.reset();
    audioFile_.reset();
    progressWindow_.reset();
    if (unfinished && !tempFileName_.isEmpty()) QFile::remove(tempFileName_);
}

void TFrmMp3ToWav::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (s) move(s->availableGeometry().center() - rect().center());
}

void TFrmMp3ToWav::StartImport(const QString& FileName) {
    // Naming the file loads the decoder library on first use; a failed load is shown here.
    MpegLibrary([](const std::string& message) {
        QMessageBox::critical(nullptr, QStringLiteral("Error"), QString::fromStdString(message));
    });
    audioFile_->SetFileName(FileNameBytes(FileName));
    tempFileName_ = TempWavFileName(programFolder_);
    // A leftover that is not a wave file (an earlier run cut short) could not even be named.
    if (QFileInfo::exists(tempFileName_) && !IsWaveFile(tempFileName_.toStdString())) QFile::remove(tempFileName_);
    waveFile_->Wave()->SetFileName(tempFileName_.toStdString());
    failed_ = false;
    finished_ = false;
    errorText_.clear();
    writeError_ = false;
    shownProgress_ = -1;
    Gauge->SetProgress(0);
    trigger_->Start();
    running_ = true;
}

int TFrmMp3ToWav::exec() {
    if (finished_) return result();
    return QDialog::exec();
}

void TFrmMp3ToWav::TriggerBufferReady(TMMComponent*, TMMWaveHdr*) {
    // Worker thread: compute here, show in the main thread, and only when the value changes.
    const int64_t length = audioFile_->Length();
    if (length <= 0) return;
    const int64_t position = audioFile_->Position();
    const auto progress = int32_t(std::lrint(double(position * 100) / double(length)));
    if (shownProgress_.exchange(progress) == progress) return;
    progressWindow_->Post(kProgressMessage, uintptr_t(progress));
}

void TFrmMp3ToWav::TriggerStop(TMMComponent*) {
    trigger_->Close();  // closes the chain and with it Temp.wav
    Gauge->SetProgress(0);
    if (trigger_->WorkerFailed())
        Finish(false, QString::fromUtf8(SImportFailed) + "\n" + QString::fromStdString(trigger_->WorkerError()));
    else if (writeError_ || waveFile_->WriteFailed())
        Finish(false, QString::fromUtf8(SImportWriteFailed));
    else
        Finish(true, QString());
}

void TFrmMp3ToWav::reject() {
    if (running_) return;
    QDialog::reject();
}

void TFrmMp3ToWav::Finish(bool ok, const QString& error) {
    running_ = false;
    finished_ = true;
    if (!ok) {
        failed_ = true;
        errorText_ = error;
        // A cut-short Temp.wav must never be taken for the whole song.
        QFile::remove(tempFileName_);
        if (ReportError) ReportError(this, error);
    }
    done(ok ? QDialog::Accepted : QDialog::Rejected);
}
