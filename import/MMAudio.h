// The audio file reader: the source at the head of the import chain. Given an MPEG audio file
// or a RIFF wave file it delivers the sound as PCM buffers to its Output, through a small
// chain of its own:
//
//     MPEG file source or wave file -> ADPCM decoder -> PCM converter -> the reader
//
// The internal components are linked to the reader's Input side, so the walks of a driver
// downstream reach them as well. The reader ends every stream it delivers with one load of
// four fill bytes when the last real load came back empty, so a driver never meets an empty
// first load at the very end.
#pragma once

#include "audio/MMDSPObj.h"
#include "import/MMMPEG.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class TMMWaveFile;
class TMMADPCMConverter;
class TMMPCMConverter;

class EMMAudioFileError : public EMMError {
public:
    using EMMError::EMMError;
};

enum TMMAudioFileType : int32_t { ftWave, ftMpeg, ftWMA, ftCDA };

// The file-name operations every audio file reader offers.
class TMMBaseAudioFile : public TMMDSPComponent {
public:
    using TMMDSPComponent::TMMDSPComponent;

    virtual std::string FileName() const = 0;
    virtual void SetFileName(const std::string& name) = 0;
};

class TMMCustomAudioFile : public TMMBaseAudioFile {
public:
    static constexpr int32_t UnityVolume = 16384;
    static constexpr int32_t MaxVolume = 32768;
    static constexpr int32_t MaxPanning = 32768;

    explicit TMMCustomAudioFile(TMMComponent* owner = nullptr);
    ~TMMCustomAudioFile() override;

    bool HasOutputProperty() const override { return true; }

    // Raised when the source's format or file changes.
    TMMNotifyEvent OnChange;
    // Raised (in the driver's thread) when reading a buffer failed; Handled true gives the
    // buffer four fill bytes and lets the stream go on.
    TMMErrorEvent OnError;

    std::string FileName() const override { return fileName_; }
    // Analyses the file and picks its source: the MPEG source when the decoder accepts it
    // (also MPEG audio inside a RIFF wave), else the wave file. A missing file leaves the
    // reader empty without an error; a file that is neither raises EMMAudioFileError "This
    // is not a valid Audiofile" and leaves it empty.
    void SetFileName(const std::string& name) override;

    bool Enabled() const { return enabled_; }
    // Passed on to both file sources.
    void SetEnabled(bool value);
    int32_t MpegTrailingHeader() const;
    void SetMpegTrailingHeader(int32_t value);
    // ftMpeg while the MPEG source holds a file, else ftWave.
    TMMAudioFileType FileType() const;
    void SetFileType(TMMAudioFileType) {}
    // Gain, 0..32768 (16384 is unity).
    int32_t Volume() const { return volume_; }
    void SetVolume(int32_t value);
    // Balance, -32768 (left only)..32768 (right only).
    int32_t Panning() const { return panning_; }
    void SetPanning(int32_t value);

    // Milliseconds: while started, the start of the range plus the bytes delivered so far;
    // otherwise the active source's own position. Safe from any thread.
    int32_t Position() const;
    // Limited to the end of the range; positions the source (and, while started, begins the
    // counting again from there).
    void SetPosition(int32_t value);
    // Milliseconds of the file, taken when it was assigned.
    int32_t Length() const { return lengthMs_; }
    // Output bytes of one block: the decoder's bytes per MPEG frame, or the wave's block
    // alignment; 0 when empty.
    int32_t BlockSize() const;
    bool IsEmpty() const;
    // PCM bytes handed out since the start (the fill bytes of the end not counted).
    int64_t BytesDelivered() const { return bytesDelivered_.load(); }
    bool EndReached() const;

    // The internal parts.
    TMMMPEGFile* MpegFile() const { return mpeg_.get(); }
    TMMWaveFile* WaveFile() const { return wave_.get(); }
    TMMADPCMConverter* ADPCMConverter() const { return adpcm_.get(); }
    TMMPCMConverter* PCMConverter() const { return pcm_.get(); }

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void StreamReset() override;
    void BufferLoad(PMMWaveHdr header, bool& more) override;

private:
    void Clear();
    // Positions the active source at ms.
    void SeekSource(int32_t ms);
    // Milliseconds of the active source's own position.
    int32_t SourcePosition() const;
    // Restarts the counters from the current source position (lock held by the caller).
    void RestartCounting();
    void RebuildEnvelope();
    void ApplyEnvelope(uint8_t* data, uint32_t bytes) const;
    void FillTail(PMMWaveHdr header, uint32_t bytes);
    void LoadFromChain(PMMWaveHdr header, bool& more);

    std::unique_ptr<TMMWaveFile> wave_;
    std::unique_ptr<TMMMPEGFile> mpeg_;
    std::unique_ptr<TMMADPCMConverter> adpcm_;
    std::unique_ptr<TMMPCMConverter> pcm_;

    std::string fileName_;
    bool enabled_ = true;
    int32_t volume_ = UnityVolume;
    int32_t panning_ = 0;
    double msPerFrame_ = 0;

    // Guards the loading of a buffer against changes of the envelope and of the range.
    mutable std::mutex lock_;
    std::atomic<int32_t> startMs_{0};
    int32_t endMs_ = 0;
    int32_t fileLengthMs_ = 0;
    int32_t lengthMs_ = 0;
    int64_t bytesToDeliver_ = 0;
    std::atomic<int64_t> bytesDelivered_{0};
    std::atomic<bool> streaming_{false};
    bool endReached_ = false;
    bool tailSent_ = false;
    uint8_t fillByte_ = 0;
    int32_t gainLeft_ = UnityVolume;
    int32_t gainRight_ = UnityVolume;
};

class TMMAudioFile : public TMMCustomAudioFile {
public:
    using TMMCustomAudioFile::TMMCustomAudioFile;
};
