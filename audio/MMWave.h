// Wave file objects. TMMWave owns at most one WaveIORecord and adds the file name, the
// format properties, a play range (a segment list), a position inside it, bulk reading and
// writing and change notification to observers. TMMWaveFile is the chain component around
// one TMMWave: without an Input it feeds the wave's data into a chain; with an Input it
// writes what flows through it into the wave's file.
#pragma once

#include "audio/MMCutLst.h"
#include "audio/MMDSPObj.h"
#include "common/MMTypes.h"
#include "audio/MMWaveIO.h"
#include "common/MMObj.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class EMMWaveError : public EMMError {
public:
    using EMMError::EMMError;
};

// Fixed texts of EMMWaveError.

// ---------------------------------------------------------------------------------------
// Observers

class TMMObservable;

// A callback registered on an observable object. While its lock counter is non-zero it is
// skipped. It unregisters itself when destroyed.
class TMMObserver {
public:
    using Proc = std::function<void(void* data, TMMObserver* observer, TMMObject* sender)>;
    explicit TMMObserver(Proc proc, void* data = nullptr) : proc_(std::move(proc)), data_(data) {}
    ~TMMObserver();
    TMMObserver(const TMMObserver&) = delete;
    TMMObserver& operator=(const TMMObserver&) = delete;

    void Lock() { ++lockCount_; }
    void Unlock() { if (lockCount_ > 0) --lockCount_; }
    int32_t LockCount() const { return lockCount_; }

private:
    friend class TMMObservable;
    Proc proc_;
    void* data_;
    int32_t lockCount_ = 0;
    TMMObservable* subject_ = nullptr;
};

class TMMObservable {
public:
    TMMObservable() = default;
    ~TMMObservable();
    TMMObservable(const TMMObservable&) = delete;
    TMMObservable& operator=(const TMMObservable&) = delete;

    // An observer belongs to one observable at a time; adding moves it.
    void AddObserver(TMMObserver* observer);
    void RemoveObserver(TMMObserver* observer);
    // Calls every unlocked observer, the last added first.
    void NotifyObservers(TMMObject* sender);
    size_t Count() const { return observers_.size(); }

private:
    std::vector<TMMObserver*> observers_;
};

// ---------------------------------------------------------------------------------------
// TMMWave

using TMMWaveProgress = std::function<void(TMMObject* Sender, int32_t a, int32_t b, int32_t c)>;

class TMMWave : public TMMObject {
public:
    TMMWave();
    // Resets the wave: a file being written is finished.
    ~TMMWave() override;

    // Event slot; nothing here raises it.
    TMMWaveProgress OnProgress;

    // --- Properties ----------------------------------------------------------------------
    TMMTimeFormats TimeFormat() const { return timeFormat_; }
    // A different unit rebuilds the segments.
    void SetTimeFormat(TMMTimeFormats value);
    bool FileMustExist() const { return fileMustExist_; }
    void SetFileMustExist(bool value) { fileMustExist_ = value; }
    const std::string& FileName() const { return fileName_; }
    // Names the wave's file: loads an existing wave file, or (FileMustExist false) names a
    // missing one; an empty name clears. The same name again does nothing unless the file's
    // size on disk changed. Failures raise EMMWaveError and leave the wave as it was.
    virtual void SetFileName(const std::string& name);

    uint16_t BitLength() const;
    // mStereo for exactly two channels, otherwise mMono.
    TMMMode Mode() const;
    uint16_t FormatTag() const;
    // Name of the format tag, "Unknown" when it has none or without a file.
    std::string FormatString() const;
    // Samples per second; 11025 without a file.
    int32_t SampleRate() const;
    int32_t FileSize() const;
    // The file's frames in TimeFormat units; 0 without a record.
    int32_t DataSize() const;
    int32_t IOBufferSize() const { return ioBufferSize_; }
    // Never below 8192; applied at once to an open file (EMMWaveError when refused, the
    // value is kept anyway).
    void SetIOBufferSize(int32_t value);

    WaveIORecord* WaveIO() const { return record_.get(); }
    virtual WAVEFORMATEX* PWaveFormat() const;
    const TMMCutList& CutList() const { return cutList_; }

    // --- Play range and position (TimeFormat units) ---------------------------------------
    // Offset inside the play range; -1 without a record.
    int32_t Position() const;
    // Seeks (when the file is open) to an offset inside the play range, clamped to it.
    // EMMWaveError "Error seeking file position" when the file cannot be positioned.
    virtual void SetPosition(int32_t value);
    int32_t StartPosition() const;
    int32_t EndPosition() const;
    // Only with a record: clamped to 0..EndPosition and StartPosition..the data's end.
    void SetStartPosition(int32_t value);
    void SetEndPosition(int32_t value);
    // Bytes still to read in the play range.
    int32_t BytesLeft() const { return bytesToRead_; }
    bool IsEmpty() const { return DataSize() == 0; }
    // Frames of the play range.
    int32_t RangeSamples() const;

    // --- Conversions on the record's format (0 without one) --------------------------------
    virtual int32_t SamplesToBytes(int32_t samples) const;
    virtual int32_t BytesToSamples(int32_t bytes) const;
    virtual int32_t SamplesToTime(int32_t samples) const;
    virtual int32_t TimeToSamples(int32_t time) const;

    // --- Operations ------------------------------------------------------------------------
    // Forgets name and record and notifies; nothing when there is neither.
    void Clear();
    // Opens the record's file for reading at the wave's position. EMMWaveError "Unable to
    // open wave file" or "Unable to setup file IO buffer". Nothing without a record.
    virtual void OpenFile();
    // Closes the file; a written file is finished. Position and bytes to read become 0.
    virtual void CloseFile();
    // True when the last CloseFile could not finish a written file.
    bool CloseFailed() const { return closeFailed_; }
    // Copies up to count raw data bytes of the play range from the position on into buffer.
    // Returns the bytes read; -1 without a record or when the range is used up. When the
    // file gives nothing although the range promised more, fills min(count, 4) bytes with
    // zeros, ends the range and returns that count once. count <= 0 returns 0.
    int32_t ReadDataBytes(void* buffer, int32_t count);
    // Appends count raw bytes at the position of a file made by CreateFile (or opened).
    // Returns the bytes written, 0 or -1 (no record, write failed).
    int32_t WriteDataBytes(const void* buffer, int32_t count);
    // Makes a new wave file name with format (an existing file is replaced) and keeps it
    // open for WriteDataBytes. Nothing when name is empty or format null. EMMWaveError
    // "Unable to create wave file" (no half-made file is left) or "Unable to setup file IO
    // buffer".
    void CreateFile(const std::string& name, const WAVEFORMATEX* format);

    void AddObserver(TMMObserver* observer) { observable_.AddObserver(observer); }
    void RemoveObserver(TMMObserver* observer) { observable_.RemoveObserver(observer); }

protected:
    // The wave's change notification, then the observers.
    void Changed() override;

private:
    void Reset();
    void Adopt(TWaveIORecordPtr record);
    void RebuildSegments();
    void Notify() { Changed(); }
    int32_t TotalFrames() const;

    TWaveIORecordPtr record_;
    std::string fileName_;
    TMMTimeFormats timeFormat_ = tfSample;
    bool fileMustExist_ = true;
    int32_t ioBufferSize_ = 32768;
    int32_t startFrame_ = 0;
    int32_t endFrame_ = 0;
    int32_t position_ = 0;        // frame offset inside the play range
    int32_t rangeBytes_ = 0;
    int32_t bytesToRead_ = 0;
    int32_t segIndex_ = -1;
    int32_t segBytesLeft_ = 0;
    bool opened_ = false;
    bool closeFailed_ = false;
    TMMCutList cutList_;
    TMMObservable observable_;
};

// ---------------------------------------------------------------------------------------
// Wave file component

class TMMCustomWaveFile : public TMMDSPComponent {
public:
    explicit TMMCustomWaveFile(TMMComponent* owner = nullptr);
    // Closes first (a file being written is finished), then frees the wave.
    ~TMMCustomWaveFile() override;

    bool HasInputProperty() const override { return true; }
    bool HasOutputProperty() const override { return true; }

    TMMWave* Wave() const { return wave_.get(); }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    bool OverwriteExisting() const { return overwriteExisting_; }
    void SetOverwriteExisting(bool value) { overwriteExisting_ = value; }
    // 128 for 8-bit PCM, else 0: what a source delivers while not playing.
    uint8_t SilenceByte() const { return silence_; }
    // True when, since the last Opened, a full disk or a failed write closed the sink's file
    // early, or the file could not be finished; OnWriteError was raised then.
    bool WriteFailed() const { return writeFailed_; }

    // Raised in the main thread (CallInMainThread).
    TMMNotifyEvent OnOpen;
    TMMNotifyEvent OnClose;
    TMMNotifyEvent OnWriteError;
    // Raised in the calling thread.
    TMMNotifyEvent OnChange;
    TMMNotifyEvent OnChanged;
    TMMNotifyEvent OnLooping;

    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void StreamReset() override;
    void BufferLoad(PMMWaveHdr header, bool& more) override;
    void BufferReady(PMMWaveHdr header) override;

private:
    void WaveChanged();
    bool IsSink() const { return Input() != nullptr; }
    void WriteBuffer(PMMWaveHdr header);
    void CloseForWriteError();

    std::unique_ptr<TMMWave> wave_;
    TMMObserver observer_;
    bool enabled_ = true;
    bool overwriteExisting_ = true;
    bool waveOpen_ = false;
    bool waveStarted_ = false;
    bool writeFailed_ = false;
    int32_t openPosition_ = 0;
    uint8_t silence_ = 0;
};

class TMMWaveFile : public TMMCustomWaveFile {
public:
    using TMMCustomWaveFile::TMMCustomWaveFile;
};
