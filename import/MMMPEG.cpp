#include "import/MMMPEG.h"

#include "audio/MMUtils.h"
#include "audio/MMWaveIO.h"
#include "platform/DynamicLibrary.h"


#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

struct TMpegDecoderLibrary {
    std::unique_ptr<DynamicLibrary> module;
    mpeg_Version_t Version = nullptr;
    mpeg_Init_t Init = nullptr;
    mpeg_Done_t Done = nullptr;
    mpeg_SetDecodeCallback_t SetDecodeCallback = nullptr;
    mpeg_SetDecodeMode_t SetDecodeMode = nullptr;
    mpeg_Clear_t Clear = nullptr;
    mpeg_SetTrailingHeader_t SetTrailingHeader = nullptr;
    mpeg_SetExactPosition_t SetExactPosition = nullptr;
    mpeg_SetFileName_t SetFileName = nullptr;
    mpeg_GetFileName_t GetFileName = nullptr;
    mpeg_GetEmpty_t GetEmpty = nullptr;
    mpeg_GetFileInfo_t GetFileInfo = nullptr;
    mpeg_SetChannelMode_t SetChannelMode = nullptr;
    mpeg_GetChannelMode_t GetChannelMode = nullptr;
    mpeg_SetPosition_t SetPosition = nullptr;
    mpeg_GetPosition_t GetPosition = nullptr;
    mpeg_OpenFile_t OpenFile = nullptr;
    mpeg_CloseFile_t CloseFile = nullptr;
    mpeg_ResetFile_t ResetFile = nullptr;
    mpeg_ReadDataBytes_t ReadDataBytes = nullptr;
    mpeg_GetDone_t GetDone = nullptr;
    mpeg_GetErrorText_t GetErrorText = nullptr;
};

namespace {

template <class F>
bool Bind(const DynamicLibrary& lib, F& slot, const char* name) {
    slot = lib.Function<F>(name);
    return slot != nullptr;
}

std::string UpperCase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

bool IsPseudoName(const std::string& name) {
    const std::string upper = UpperCase(name);
    return upper.find("RESOURCE://") != std::string::npos || upper.find("POINTER://") != std::string::npos;
}

}  // namespace

void TMpegDecoderLibraryDeleter::operator()(TMpegDecoderLibrary* p) const noexcept { delete p; }

TMpegDecoderLibraryPtr LoadMpegDecoderLibrary(const std::string& folder, std::string& message) {
    message.clear();
    TMpegDecoderLibraryPtr lib(new TMpegDecoderLibrary);
    lib->module = DynamicLibrary::Open(folder.empty() ? std::string(MPEG_DECODER_LIBRARY_NAME)
                                                      : (std::filesystem::path(folder) / MPEG_DECODER_LIBRARY_NAME).string());
    if (!lib->module) {
        message = LibraryMessage(lmUnableToLoadMpegDll);
        return nullptr;
    }
    const DynamicLibrary& m = *lib->module;
    bool complete = Bind(m, lib->Version, "mpeg_Version");
    if (complete && lib->Version() < MPEG_MIN_VERSION) complete = false;
    // A library lacking an entry point the source calls is as unusable as an old one.
    complete = complete && Bind(m, lib->Init, "mpeg_Init") && Bind(m, lib->Done, "mpeg_Done") &&
               Bind(m, lib->SetDecodeCallback, "mpeg_SetDecodeCallback") &&
               Bind(m, lib->SetDecodeMode, "mpeg_SetDecodeMode") && Bind(m, lib->Clear, "mpeg_Clear") &&
               Bind(m, lib->SetTrailingHeader, "mpeg_SetTrailingHeader") &&
               Bind(m, lib->SetExactPosition, "mpeg_SetExactPosition") &&
               Bind(m, lib->SetFileName, "mpeg_SetFileName") && Bind(m, lib->GetFileName, "mpeg_GetFileName") &&
               Bind(m, lib->GetEmpty, "mpeg_GetEmpty") && Bind(m, lib->GetFileInfo, "mpeg_GetFileInfo") &&
               Bind(m, lib->SetChannelMode, "mpeg_SetChannelMode") &&
               Bind(m, lib->GetChannelMode, "mpeg_GetChannelMode") &&
               Bind(m, lib->SetPosition, "mpeg_SetPosition") && Bind(m, lib->GetPosition, "mpeg_GetPosition") &&
               Bind(m, lib->OpenFile, "mpeg_OpenFile") && Bind(m, lib->CloseFile, "mpeg_CloseFile") &&
               Bind(m, lib->ResetFile, "mpeg_ResetFile") && Bind(m, lib->ReadDataBytes, "mpeg_ReadDataBytes") &&
               Bind(m, lib->GetDone, "mpeg_GetDone") && Bind(m, lib->GetErrorText, "mpeg_GetErrorText");
    if (!complete) {
        message = LibraryMessage(lmInvalidMpegDllVersion);
        return nullptr;
    }
    return lib;
}

const TMpegDecoderLibrary* MpegLibrary(const TMpegLoadReport& report) {
    static std::once_flag once;
    static TMpegDecoderLibraryPtr library;
    std::call_once(once, [&report] {
        std::string message;
        // Beside the executable in the build folder; an installed program finds it through its RUNPATH.
        const std::filesystem::path folder = ExecutableFolder();
        std::error_code ec;
        const bool beside = std::filesystem::exists(folder / MPEG_DECODER_LIBRARY_NAME, ec);
        library = LoadMpegDecoderLibrary(beside ? folder.string() : std::string(), message);
        if (library) return;
        if (report)
            report(message);
        else
            std::fprintf(stderr, "%s\n", message.c_str());
    });
    return library.get();
}

// ---------------------------------------------------------------------------------------
// TMMMpeg

TMMMpeg::TMMMpeg() : lib_(MpegLibrary()) {
    if (!lib_) throw EMMMpegError(LibraryMessage(lmUnableToLoadMpegDll));
    int32_t code = 0;
    handle_ = lib_->Init(&code, &TMMMpeg::InfoCallback, this);
    Check(code);
}

TMMMpeg::~TMMMpeg() {
    try {
        Close();
    } catch (const EMMMpegError&) {
    }
    if (lib_ && handle_) lib_->Done(&handle_);
}

void TMMMpeg::Check(int32_t code, const std::string& suffix) const {
    if (code == 0) return;
    char text[256] = {};
    if (lib_->GetErrorText(code, text, sizeof text) != 0) text[0] = '\0';
    throw EMMMpegError(std::string(text) + suffix);
}

void TMMMpeg::InfoCallback(int32_t, void* data) { static_cast<TMMMpeg*>(data)->InfoChanged(); }

void TMMMpeg::InfoChanged() {
    if (IsEmpty() || lib_->GetFileInfo(handle_, &info_) != 0) info_ = TMpegFileInfo{};
    RebuildFormat();
    if (OnInfoChanged) OnInfoChanged(this);
}

void TMMMpeg::RebuildFormat() {
    hasFormat_ = !IsEmpty() && info_.PlayBackRate > 0;
    if (!hasFormat_) {
        format_ = WAVEFORMATEX{};
        return;
    }
    const int32_t channels = (Mode() == smSingleChannel || ChannelMode() != cmBoth) ? 1 : 2;
    SetPCMFormat(&format_, 16, channels, info_.PlayBackRate);
}

TMpegVersion TMMMpeg::Version() const { return IsEmpty() ? v1 : TMpegVersion(info_.Version); }
int32_t TMMMpeg::Layer() const { return IsEmpty() ? 0 : info_.Layer; }
int32_t TMMMpeg::SampleRate() const { return IsEmpty() ? 0 : info_.SampleRate; }
int32_t TMMMpeg::PlayBackRate() const { return IsEmpty() ? 0 : info_.PlayBackRate; }
int32_t TMMMpeg::BitRate() const { return IsEmpty() ? 0 : info_.BitRate; }
TSampleMode TMMMpeg::Mode() const { return IsEmpty() ? smStereo : TSampleMode(info_.Mode); }
int32_t TMMMpeg::Frames() const { return IsEmpty() ? 0 : info_.Frames; }
int32_t TMMMpeg::Time() const { return IsEmpty() ? 0 : info_.Time; }
double TMMMpeg::FrameTime() const { return IsEmpty() ? 0.0 : info_.FrameTime; }

void TMMMpeg::SetTrailingHeader(int32_t value) {
    if (value == trailingHeader_) return;
    trailingHeader_ = value;
    Check(lib_->SetTrailingHeader(handle_, value));
}

void TMMMpeg::SetExactposition(bool value) {
    exactPosition_ = value;
    Check(lib_->SetExactPosition(handle_, value ? 1 : 0));
}

std::string TMMMpeg::FileName() const {
    char name[256] = {};
    Check(lib_->GetFileName(handle_, name, sizeof name));
    return name;
}

void TMMMpeg::SetFileName(const std::string& name) {
    Close();
    Check(lib_->SetFileName(handle_, name.c_str()));
}

TChannelMode TMMMpeg::ChannelMode() const {
    int32_t mode = cmBoth;
    Check(lib_->GetChannelMode(handle_, &mode));
    return TChannelMode(mode);
}

void TMMMpeg::SetChannelMode(TChannelMode value) {
    if (fileOpen_) throw EMMMpegError(LibraryMessage(lmChangeWhileOpen));
    Check(lib_->SetChannelMode(handle_, value));
    RebuildFormat();
}

void TMMMpeg::SetDecodeCallback(mpeg_DecodeCallback callback, void* data) {
    Check(lib_->SetDecodeCallback(handle_, callback, data));
}

void TMMMpeg::SetDecodeMode(uint8_t mode) { Check(lib_->SetDecodeMode(handle_, mode)); }

bool TMMMpeg::IsEmpty() const { return lib_->GetEmpty(handle_) != 0; }
bool TMMMpeg::IsDone() const { return lib_->GetDone(handle_) != 0; }

void TMMMpeg::Clear() {
    fileOpen_ = false;
    Check(lib_->CloseFile(handle_));
    Check(lib_->Clear(handle_));
}

void TMMMpeg::Open() {
    if (IsEmpty() || fileOpen_) return;
    Check(lib_->OpenFile(handle_));
    fileOpen_ = true;
}

void TMMMpeg::Close() {
    if (!fileOpen_) return;
    fileOpen_ = false;
    Check(lib_->CloseFile(handle_));
}

void TMMMpeg::ResetFile() {
    if (fileOpen_) Check(lib_->ResetFile(handle_));
}

int32_t TMMMpeg::Read(void* buffer, int32_t count) {
    if (!fileOpen_) return 0;
    const int32_t n = lib_->ReadDataBytes(handle_, buffer, count);
    if (n < 0) Check(-n);
    return n;
}

int32_t TMMMpeg::FramePosition() const { return lib_->GetPosition(handle_); }

void TMMMpeg::SetFramePosition(int32_t frame) {
    const int32_t target = fileOpen_ ? std::max(frame - 2, 0) : std::max(frame, 0);
    Check(lib_->SetPosition(handle_, target), ": " + std::to_string(frame));
    if (!fileOpen_) return;
    const int32_t bytes = BytesPerFrame();
    if (bytes <= 0) return;
    scratch_.resize(size_t(bytes));
    for (int i = 0; i < 10 && FramePosition() < frame && !IsDone(); ++i) Read(scratch_.data(), bytes);
}

int32_t TMMMpeg::BytesPerFrame() const {
    if (IsEmpty() || !hasFormat_) return 0;
    const auto bytes = int32_t(std::lround(double(format_.nAvgBytesPerSec) * FrameTime() / 1000.0));
    return bytes - bytes % 4;
}

// ---------------------------------------------------------------------------------------
// TMMMPEGFile

TMMMPEGFile::TMMMPEGFile(TMMComponent* owner) : TMMDSPComponent(owner) {
    if (MpegLibrary()) {
        mpeg_ = std::make_unique<TMMMpeg>();
        mpeg_->OnInfoChanged = [this](TMMMpeg*) { InfoChanged(); };
    }
}

TMMMPEGFile::~TMMMPEGFile() {
    try {
        if (fileOpen_) Closed();
    } catch (const EMMError&) {
    }
}

void TMMMPEGFile::InfoChanged() {
    SetPWaveFormat(mpeg_->Format());
    if (OnChange) OnChange(this);
}

std::string TMMMPEGFile::FileName() const { return mpeg_ ? mpeg_->FileName() : std::string(); }

void TMMMPEGFile::SetFileName(const std::string& name) {
    if (!mpeg_) {
        if (name.empty()) return;
        throw EMMMpegError(LibraryMessage(lmUnableToLoadMpegDll));
    }
    if (fileOpen_) Closed();
    mpeg_->SetFileName(name);
}

int32_t TMMMPEGFile::TrailingHeader() const { return mpeg_ ? mpeg_->TrailingHeader() : 0; }
void TMMMPEGFile::SetTrailingHeader(int32_t value) {
    if (mpeg_) mpeg_->SetTrailingHeader(value);
}
bool TMMMPEGFile::Exactposition() const { return mpeg_ && mpeg_->Exactposition(); }
void TMMMPEGFile::SetExactposition(bool value) {
    if (mpeg_) mpeg_->SetExactposition(value);
}
TChannelMode TMMMPEGFile::ChannelMode() const { return mpeg_ ? mpeg_->ChannelMode() : cmBoth; }

void TMMMPEGFile::SetChannelMode(TChannelMode value) {
    if (!mpeg_) return;
    mpeg_->SetChannelMode(value);
    // The channel count may have changed; the chain must hear of it.
    SetPWaveFormat(mpeg_->Format());
}

TMpegVersion TMMMPEGFile::Version() const { return mpeg_ ? mpeg_->Version() : v1; }
int32_t TMMMPEGFile::Layer() const { return mpeg_ ? mpeg_->Layer() : 0; }
TSampleMode TMMMPEGFile::Mode() const { return mpeg_ ? mpeg_->Mode() : smStereo; }
int32_t TMMMPEGFile::BitRate() const { return mpeg_ ? mpeg_->BitRate() : 0; }
int32_t TMMMPEGFile::SampleRate() const { return mpeg_ ? mpeg_->SampleRate() : 0; }
int32_t TMMMPEGFile::PlayBackRate() const { return mpeg_ ? mpeg_->PlayBackRate() : 0; }
int32_t TMMMPEGFile::Frames() const { return mpeg_ ? mpeg_->Frames() : 0; }
int32_t TMMMPEGFile::Time() const { return mpeg_ ? mpeg_->Time() : 0; }

void TMMMPEGFile::SetDecodeCallback(mpeg_DecodeCallback callback, void* data, uint8_t mode) {
    if (!mpeg_) return;
    mpeg_->SetDecodeCallback(callback, data);
    mpeg_->SetDecodeMode(mode);
}

void TMMMPEGFile::Opened() {
    TMMDSPComponent::Opened();
    if (!fileOpen_ && !Empty()) {
        mpeg_->Open();
        fileOpen_ = true;
        startFrame_ = mpeg_->FramePosition();
    }
}

void TMMMPEGFile::Started() {
    TMMDSPComponent::Started();
    if (fileOpen_ && !mpegStarted_) {
        mpegStarted_ = true;
        mpeg_->SetFramePosition(startFrame_);
    }
}

void TMMMPEGFile::Stopped() {
    if (fileOpen_ && mpegStarted_) mpegStarted_ = false;
    TMMDSPComponent::Stopped();
}

void TMMMPEGFile::Closed() {
    if (fileOpen_) {
        Stopped();
        fileOpen_ = false;
        mpeg_->Close();
    }
    TMMDSPComponent::Closed();
}

void TMMMPEGFile::BufferLoad(PMMWaveHdr header, bool& more) {
    if (!header) return;
    WAVEHDR& wh = header->wh;
    try {
        if (Empty()) {
            wh.dwBytesRecorded = 0;
            return;
        }
        if (!mpegStarted_ || !enabled_) {
            std::memset(wh.lpData, 0, wh.dwBufferLength);
            wh.dwBytesRecorded = wh.dwBufferLength;
            more = true;
            return;
        }
        const int32_t count = mpeg_->Read(wh.lpData, int32_t(wh.dwBufferLength));
        wh.dwBytesRecorded = uint32_t(count);
        if (count == 0) return;
        if (!mpeg_->IsDone()) {
            more = true;
        } else if (header->dwLooping) {
            mpeg_->ResetFile();
            header->dwLooped = -1;
            more = true;
        }
    } catch (const std::exception&) {
        bool handled = false;
        if (OnError) OnError(this, handled);
        if (!handled) throw;
        const uint32_t n = std::min<uint32_t>(4, wh.dwBufferLength);
        std::memset(wh.lpData, 0, n);
        wh.dwBytesRecorded = n;
    }
}

// ---------------------------------------------------------------------------------------
// IsMpegFile

bool IsMpegFile(const std::string& name, mpeg_DecodeCallback decodeCallback, void* decodeData, uint8_t decodeMode) {
    const TMpegDecoderLibrary* lib = MpegLibrary();
    if (!lib || name.empty()) return false;
    std::error_code ec;
    if (!std::filesystem::exists(name, ec) && !IsPseudoName(name)) return false;

    TWaveIORecordPtr wave;
    if (WaveIOOpen(name, mmioFOURCC('W', 'A', 'V', 'E'), WIOF_DISKFILE, wave) == 0) {
        const uint16_t tag = wave->Format()->wFormatTag;
        WaveIOFree(wave);
        return tag == WAVE_FORMAT_MPEG || tag == WAVE_FORMAT_MPEGLAYER3;
    }

    int32_t code = 0;
    int32_t handle = lib->Init(&code, nullptr, nullptr);
    if (code != 0) return false;
    if (decodeCallback) {
        lib->SetDecodeCallback(handle, decodeCallback, decodeData);
        lib->SetDecodeMode(handle, decodeMode);
    }
    const bool accepted = lib->SetFileName(handle, name.c_str()) == 0 && lib->GetEmpty(handle) == 0;
    lib->Done(&handle);
    return accepted;
}
