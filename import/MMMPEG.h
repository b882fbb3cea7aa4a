// The MPEG file source: access to the decoder library, TMMMpeg (one decoder instance whose
// result codes become exceptions), the chain component TMMMPEGFile that fills buffers with the
// decoded PCM, and IsMpegFile, the check that sends a file through this source.
#pragma once

#include "audio/MMDSPObj.h"
#include "common/MMObj.h"
#include "import/mpeglib/MpegDecoder.h"
#include "platform/MMSystem.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class EMMMpegError : public EMMError {
public:
    using EMMError::EMMError;
};

enum TMpegVersion : uint8_t { v2LSF = 0, v1 = 1 };
enum TSampleMode : uint8_t { smStereo = 0, smJointStereo = 1, smDualChannel = 2, smSingleChannel = 3 };
enum TChannelMode : int32_t { cmLeft = 0, cmRight = 1, cmBoth = 2, cmDownMix = 3 };

// ---------------------------------------------------------------------------------------
// The decoder library

// The library's entry points, all present once it is loaded.
struct TMpegDecoderLibrary;
struct TMpegDecoderLibraryDeleter {
    void operator()(TMpegDecoderLibrary* p) const noexcept;
};
using TMpegDecoderLibraryPtr = std::unique_ptr<TMpegDecoderLibrary, TMpegDecoderLibraryDeleter>;

// Loads the decoder library from folder; an empty folder leaves the search to the dynamic loader
// (the program's RUNPATH, as in an installed layout). On success returns it and leaves message empty; on
// failure returns null with message "Unable to load MMMPEG32.DLL" (no library there) or
// "Invalid Mpeg Decoder DLL version" (a version below 20, or entry points missing).
TMpegDecoderLibraryPtr LoadMpegDecoderLibrary(const std::string& folder, std::string& message);

// How a failed load of the decoder library is reported: the text of the failure.
using TMpegLoadReport = std::function<void(const std::string& message)>;

// The process's decoder library, loaded on first use from the executable's folder and kept
// until the process ends. A failed load is reported once, to report when the call that loads
// is given one (the import dialog shows a message box), else to standard error; the library
// then counts as absent, without another attempt. Null when absent.
const TMpegDecoderLibrary* MpegLibrary(const TMpegLoadReport& report = {});

// ---------------------------------------------------------------------------------------
// TMMMpeg

class TMMMpeg : public TMMObject {
public:
    // Loads the library if needed and obtains a decoder instance. Without the library throws
    // EMMMpegError "Unable to load MMMPEG32.DLL".
    TMMMpeg();
    // Closes the file and ends the instance.
    ~TMMMpeg() override;

    int32_t Handle() const { return handle_; }
    // The decoder's file information (zero-filled while no file is set).
    const TMpegFileInfo& Info() const { return info_; }
    // The PCM delivered: 16 bits at PlayBackRate, 1 channel for a single-channel stream or a
    // channel mode other than cmBoth, else 2. Null while no file is set.
    const WAVEFORMATEX* Format() const { return hasFormat_ ? &format_ : nullptr; }

    // v1 and zeros while empty.
    TMpegVersion Version() const;
    int32_t Layer() const;
    int32_t SampleRate() const;
    int32_t PlayBackRate() const;
    int32_t BitRate() const;
    TSampleMode Mode() const;
    int32_t Frames() const;
    int32_t Time() const;
    double FrameTime() const;

    int32_t TrailingHeader() const { return trailingHeader_; }
    void SetTrailingHeader(int32_t value);
    bool Exactposition() const { return exactPosition_; }
    void SetExactposition(bool value);
    bool FileOpen() const { return fileOpen_; }

    std::string FileName() const;
    // Closes the file, then analyses the named one (the info-changed callback runs).
    void SetFileName(const std::string& name);
    TChannelMode ChannelMode() const;
    // Throws "Change to property while device was open" while the file is open.
    void SetChannelMode(TChannelMode value);

    void SetDecodeCallback(mpeg_DecodeCallback callback, void* data);
    void SetDecodeMode(uint8_t mode);

    bool IsEmpty() const;
    bool IsDone() const;
    void Clear();
    void Open();
    void Close();
    void ResetFile();
    // Decoded bytes (whole sample frames) into buffer: 0 when not open or at the end.
    int32_t Read(void* buffer, int32_t count);
    int32_t FramePosition() const;
    // Positions two frames early and decodes forward to prime the decoder for frame.
    void SetFramePosition(int32_t frame);
    // Output bytes of one MPEG frame, a multiple of 4; 0 while empty.
    int32_t BytesPerFrame() const;

    // Called after the file information changed and Format was rebuilt.
    std::function<void(TMMMpeg* sender)> OnInfoChanged;

private:
    static void InfoCallback(int32_t handle, void* data);
    void InfoChanged();
    void RebuildFormat();
    void Check(int32_t code, const std::string& suffix = {}) const;

    const TMpegDecoderLibrary* lib_;
    int32_t handle_ = 0;
    TMpegFileInfo info_{};
    WAVEFORMATEX format_{};
    bool hasFormat_ = false;
    int32_t trailingHeader_ = 0;
    bool exactPosition_ = false;
    bool fileOpen_ = false;
    std::vector<uint8_t> scratch_;
};

// ---------------------------------------------------------------------------------------
// TMMMPEGFile

// (Sender, Handled): raised when filling a buffer failed; Handled true lets the stream go on.
using TMMErrorEvent = std::function<void(TMMComponent* Sender, bool& Handled)>;

// The MPEG file source of a chain: a source component (no Input) whose buffers are filled
// with the decoded PCM of FileName. Without the decoder library it stays empty, and naming a
// file raises EMMMpegError "Unable to load MMMPEG32.DLL".
class TMMMPEGFile : public TMMDSPComponent {
public:
    explicit TMMMPEGFile(TMMComponent* owner = nullptr);
    ~TMMMPEGFile() override;

    bool HasOutputProperty() const override { return true; }

    TMMNotifyEvent OnChange;
    TMMErrorEvent OnError;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    std::string FileName() const;
    // Analyses the file; its format becomes this component's format and OnChange is raised.
    void SetFileName(const std::string& name);
    int32_t TrailingHeader() const;
    void SetTrailingHeader(int32_t value);
    bool Exactposition() const;
    void SetExactposition(bool value);
    TChannelMode ChannelMode() const;
    // Refused while open ("Change to property while device was open"); the format follows.
    void SetChannelMode(TChannelMode value);

    TMpegVersion Version() const;
    void SetVersion(TMpegVersion) {}
    int32_t Layer() const;
    void SetLayer(int32_t) {}
    TSampleMode Mode() const;
    void SetMode(TSampleMode) {}
    int32_t BitRate() const;
    void SetBitRate(int32_t) {}
    int32_t SampleRate() const;
    void SetSampleRate(int32_t) {}
    int32_t PlayBackRate() const;
    int32_t Frames() const;
    int32_t Time() const;

    // The owned decoder; null without the decoder library.
    TMMMpeg* Mpeg() const { return mpeg_.get(); }
    bool FileOpen() const { return fileOpen_; }
    int32_t StartFrame() const { return startFrame_; }
    // A filter the decoder applies to the file bytes while mode is not 0.
    void SetDecodeCallback(mpeg_DecodeCallback callback, void* data, uint8_t mode);

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void BufferLoad(PMMWaveHdr header, bool& more) override;

private:
    void InfoChanged();
    bool Empty() const { return !mpeg_ || mpeg_->IsEmpty(); }

    std::unique_ptr<TMMMpeg> mpeg_;
    bool enabled_ = true;
    bool fileOpen_ = false;
    bool mpegStarted_ = false;
    int32_t startFrame_ = 0;
};

// True when name is read through the MPEG file source: the library is loaded and the file
// exists (or names a resource or pointer source), and either it is a RIFF wave holding MPEG
// audio (format tag 0x50 or 0x55) or, not being a RIFF wave, the decoder accepts it.
bool IsMpegFile(const std::string& name, mpeg_DecodeCallback decodeCallback = nullptr,
                void* decodeData = nullptr, uint8_t decodeMode = 0);
