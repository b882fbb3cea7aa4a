// The import dialog: a small borderless, always-on-top modal window that converts the input
// file into the PCM scratch file Temp.wav with the chain AudioFile -> Trigger -> WaveFile and
// shows the progress; it closes itself when the conversion has ended.
//
// Use: create it, StartImport(path) (raises for an input that is no audio file; nothing is
// started then), exec(), then test Failed(). A full disk, a failed write or a failure of the
// worker is reported to the operator through ReportError and leaves no Temp.wav behind.
#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class MessageWindow;
class TMMAudioFile;
class TMMComponent;
class TMMGauge;
class TMMPanel;
class TMMTrigger;
class TMMWaveFile;
struct TMMWaveHdr;

// Texts shown to the operator when an import cannot be finished.
extern const char* const SImportWriteFailed;   // Temp.wav could not be written completely
extern const char* const SImportFailed;        // the conversion failed; followed by the reason

// The scratch file of the import: "Temp.wav" in folder (empty: the executable's folder), or in
// the user's cache folder when that folder cannot be written or is the system's program folder
// (/usr/bin and the like: an installed program).
QString TempWavFileName(const QString& folder = QString());

class TFrmMp3ToWav : public QDialog {
public:
    explicit TFrmMp3ToWav(QWidget* parent = nullptr);
    // Ends a conversion still running (its file is left unfinished and removed).
    ~TFrmMp3ToWav() override;

    // Where Temp.wav is written (see TempWavFileName); default the executable's folder.
    void SetProgramFolder(const QString& folder) { programFolder_ = folder; }
    // The path of Temp.wav of the last StartImport.
    QString TempFileName() const { return tempFileName_; }

    // Names the input and Temp.wav and starts the trigger; returns at once, the conversion
    // runs on the trigger's worker thread. Raises "This is not a valid Audiofile" for an
    // input that is neither MPEG audio nor a wave file, and the trigger's error when the
    // chain cannot start (a missing input among them); nothing runs then.
    void StartImport(const QString& FileName);

    // Returns at once when the conversion has already ended.
    int exec() override;

    // True when the last import did not produce a complete Temp.wav; ErrorText says why.
    bool Failed() const { return failed_; }
    QString ErrorText() const { return errorText_; }

    // Shows an error to the operator; by default a critical message box over parent. Replace
    // it to route the texts elsewhere (automated runs).
    std::function<void(QWidget* parent, const QString& text)> ReportError;

    // The form's parts.
    TMMPanel* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    TMMGauge* Gauge = nullptr;
    TMMAudioFile* AudioFile() const { return audioFile_.get(); }
    TMMTrigger* Trigger() const { return trigger_.get(); }
    TMMWaveFile* WaveFile() const { return waveFile_.get(); }

    // The trigger's events.
    void TriggerBufferReady(TMMComponent* Sender, TMMWaveHdr* Buffer);
    void TriggerStop(TMMComponent* Sender);

protected:
    void showEvent(QShowEvent* event) override;
    // Esc or a close request while the import runs would cut Temp.wav short: ignored then.
    void reject() override;

private:
    void Finish(bool ok, const QString& error);

    std::unique_ptr<TMMAudioFile> audioFile_;
    std::unique_ptr<TMMTrigger> trigger_;
    std::unique_ptr<TMMWaveFile> waveFile_;
    std::unique_ptr<MessageWindow> progressWindow_;
    QString programFolder_;
    QString tempFileName_;
    std::atomic<int32_t> shownProgress_{-1};
    std::atomic<bool> writeError_{false};
    bool running_ = false;
    bool finished_ = false;
    bool failed_ = false;
    QString errorText_;
};
