#include "import/MMAudio.h"

#include "audio/MMUtils.h"
#include "audio/MMWave.h"
#include "audio/MMWaveIO.h"
#include "common/ScopeExit.h"
#include "import/MMACMCvt.h"
#include "import/MMADCvt.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace {

constexpr uint32_t kTailBytes = 4;

bool IsPseudoSource(const std::string& name) {
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return upper.find("RESOURCE://") != std::string::npos || upper.find("POINTER://") != std::string::npos;
}

// bytes of a format in milliseconds, rounded to nearest.
int64_t BytesToMsRounded(const WAVEFORMATEX* f, int64_t bytes) {
    if (!f || f->nAvgBytesPerSec == 0) return 0;
    return (bytes * 1000 + f->nAvgBytesPerSec / 2) / f->nAvgBytesPerSec;
}

// Milliseconds of a format in bytes, rounded up to whole blocks.
int64_t MsToBytesUp(const WAVEFORMATEX* f, int64_t ms) {
    if (!f || ms <= 0) return 0;
    const int64_t block = std::max<int64_t>(f->nBlockAlign, 1);
    const int64_t bytes = (ms * int64_t(f->nAvgBytesPerSec) + 999) / 1000;
    return (bytes + block - 1) / block * block;
}

}  // namespace

TMMCustomAudioFile::TMMCustomAudioFile(TMMComponent* owner) : TMMBaseAudioFile(owner) {
    wave_ = std::make_unique<TMMWaveFile>(this);
    wave_->Wave()->SetTimeFormat(tfMillisecond);
    wave_->OnChange = [this](TMMComponent*) {
        if (OnChange) OnChange(this);
    };
    mpeg_ = std::make_unique<TMMMPEGFile>(this);
    mpeg_->OnChange = [this](TMMComponent*) {
        if (OnChange) OnChange(this);
    };
    adpcm_ = std::make_unique<TMMADPCMConverter>(this);
    pcm_ = std::make_unique<TMMPCMConverter>(this);
    pcm_->SetInput(adpcm_.get());
    // The converter becomes this reader's Input, although the reader publishes none.
    SetAllowAsOutput(true);
    pcm_->SetOutput(this);
    SetAllowAsOutput(false);
}

TMMCustomAudioFile::~TMMCustomAudioFile() {
    // Unlink the internal chain while this object is still whole; the parts then go on
    // their own.
    MarkDestroying();
    try {
        if (IsOpen()) Closed();
        pcm_->SetOutput(nullptr);
        adpcm_->SetInput(nullptr);
    } catch (...) {
    }
}

// --- File ------------------------------------------------------------------------------

void TMMCustomAudioFile::Clear() {
    if (mpeg_->Mpeg()) mpeg_->SetFileName("");
    wave_->Wave()->Clear();
    bytesDelivered_ = 0;
    fileLengthMs_ = 0;
    startMs_ = 0;
    endMs_ = 0;
    lengthMs_ = 0;
    msPerFrame_ = 0;
    fileName_.clear();
}

void TMMCustomAudioFile::SetFileName(const std::string& name) {
    if (name == fileName_) return;
    Clear();
    if (name.empty()) {
        if (OnChange) OnChange(this);
        return;
    }
    std::error_code ec;
    if (!std::filesystem::exists(name, ec) && !IsPseudoSource(name)) return;

    {
        // A source the converters refuse leaves the reader empty, like any other failure.
        auto undo = ScopeExit([this] {
            adpcm_->SetInput(nullptr);
            Clear();
        });
        if (IsMpegFile(name)) {
            mpeg_->SetFileName(name);
            fileLengthMs_ = mpeg_->Time();
            msPerFrame_ = mpeg_->Mpeg() ? mpeg_->Mpeg()->FrameTime() : 0;
            adpcm_->SetInput(mpeg_.get());
            adpcm_->SetEnabled(false);
        } else if (IsWaveFile(name)) {
            wave_->Wave()->SetFileName(name);
            const WaveIORecord* record = wave_->Wave()->WaveIO();
            const WAVEFORMATEX* f = wave_->Wave()->PWaveFormat();
            fileLengthMs_ = record ? int32_t(BytesToMsRounded(f, record->DataBytes)) : 0;
            adpcm_->SetInput(wave_.get());
            // Formats it does not decode pass through it untouched.
            adpcm_->SetEnabled(true);
        } else {
            throw EMMAudioFileError(LibraryMessage(lmNotValidAudioFile));
        }
        undo.Dismiss();
    }
    fileName_ = name;
    startMs_ = 0;
    endMs_ = fileLengthMs_;
    lengthMs_ = fileLengthMs_;
    if (OnChange) OnChange(this);
}

void TMMCustomAudioFile::SetEnabled(bool value) {
    enabled_ = value;
    wave_->SetEnabled(value);
    mpeg_->SetEnabled(value);
}

int32_t TMMCustomAudioFile::MpegTrailingHeader() const { return mpeg_->TrailingHeader(); }
void TMMCustomAudioFile::SetMpegTrailingHeader(int32_t value) { mpeg_->SetTrailingHeader(value); }

TMMAudioFileType TMMCustomAudioFile::FileType() const {
    return mpeg_->Mpeg() && !mpeg_->Mpeg()->IsEmpty() ? ftMpeg : ftWave;
}

bool TMMCustomAudioFile::IsEmpty() const {
    return FileType() == ftWave && wave_->Wave()->WaveIO() == nullptr;
}

int32_t TMMCustomAudioFile::BlockSize() const {
    if (FileType() == ftMpeg) return mpeg_->Mpeg()->BytesPerFrame();
    const WAVEFORMATEX* f = wave_->Wave()->PWaveFormat();
    return f ? f->nBlockAlign : 0;
}

bool TMMCustomAudioFile::EndReached() const {
    std::lock_guard<std::mutex> lock(lock_);
    return endReached_;
}

// --- Volume envelope ------------------------------------------------------------------

void TMMCustomAudioFile::SetVolume(int32_t value) {
    value = MinMax(value, 0, MaxVolume);
    if (value == volume_) return;
    std::lock_guard<std::mutex> lock(lock_);
    volume_ = value;
    RebuildEnvelope();
}

void TMMCustomAudioFile::SetPanning(int32_t value) {
    value = MinMax(value, -MaxPanning, MaxPanning);
    if (value == panning_) return;
    std::lock_guard<std::mutex> lock(lock_);
    panning_ = value;
    RebuildEnvelope();
}

void TMMCustomAudioFile::RebuildEnvelope() {
    constexpr int64_t C = MaxPanning;
    gainLeft_ = gainRight_ = volume_;
    if (panning_ <= 0) gainRight_ = int32_t((panning_ + C) * volume_ / C);
    else gainLeft_ = int32_t(volume_ * (C - panning_) / C);
}

void TMMCustomAudioFile::ApplyEnvelope(uint8_t* data, uint32_t bytes) const {
    if (gainLeft_ == UnityVolume && gainRight_ == UnityVolume) return;
    const WAVEFORMATEX* f = PWaveFormat();
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM || f->nChannels == 0) return;
    const int channels = f->nChannels;
    auto gainOf = [&](size_t index) {
        if (channels == 1) return volume_;
        return index % size_t(channels) == 0 ? gainLeft_ : gainRight_;
    };
    if (f->wBitsPerSample == 16) {
        const size_t n = bytes / 2;
        for (size_t i = 0; i < n; ++i) {
            int16_t s;
            std::memcpy(&s, data + 2 * i, 2);
            const int32_t v = std::clamp<int32_t>(int32_t(int64_t(s) * gainOf(i) / UnityVolume), -32768, 32767);
            s = int16_t(v);
            std::memcpy(data + 2 * i, &s, 2);
        }
    } else if (f->wBitsPerSample == 8) {
        for (size_t i = 0; i < bytes; ++i) {
            const int32_t v = (int32_t(data[i]) - 128) * gainOf(i) / UnityVolume;
            data[i] = uint8_t(std::clamp(v + 128, 0, 255));
        }
    }
}

// --- Position --------------------------------------------------------------------------

int32_t TMMCustomAudioFile::SourcePosition() const {
    if (FileType() == ftMpeg)
        return int32_t(std::lround(mpeg_->Mpeg()->FramePosition() * msPerFrame_));
    return std::max(wave_->Wave()->Position(), 0);
}

int32_t TMMCustomAudioFile::Position() const {
    if (streaming_) return startMs_ + int32_t(BytesToMsRounded(PWaveFormat(), bytesDelivered_));
    return SourcePosition();
}

void TMMCustomAudioFile::SeekSource(int32_t ms) {
    if (FileType() == ftMpeg) {
        if (msPerFrame_ > 0) mpeg_->Mpeg()->SetFramePosition(int32_t(std::lround(ms / msPerFrame_)));
    } else if (wave_->Wave()->WaveIO()) {
        wave_->Wave()->SetPosition(ms);
    }
}

void TMMCustomAudioFile::SetPosition(int32_t value) {
    value = std::max(std::min(value, endMs_), 0);
    SeekSource(value);
    if (streaming_) {
        std::lock_guard<std::mutex> lock(lock_);
        RestartCounting();
        adpcm_->StreamReset();
        pcm_->StreamReset();
    }
}

void TMMCustomAudioFile::RestartCounting() {
    endReached_ = false;
    tailSent_ = false;
    bytesDelivered_ = 0;
    const int32_t position = SourcePosition();
    startMs_ = position;
    bytesToDeliver_ = MsToBytesUp(PWaveFormat(), int64_t(endMs_) - position);
    const WAVEFORMATEX* f = PWaveFormat();
    fillByte_ = f && f->wBitsPerSample == 8 ? 127 : 0;
    RebuildEnvelope();
}

// --- Chain notifications ---------------------------------------------------------------

void TMMCustomAudioFile::Opened() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        endReached_ = false;
        tailSent_ = false;
    }
    TMMBaseAudioFile::Opened();
}

void TMMCustomAudioFile::Started() {
    if (!streaming_ && !IsEmpty()) {
        std::lock_guard<std::mutex> lock(lock_);
        RestartCounting();
        streaming_ = true;
    }
    TMMBaseAudioFile::Started();
}

void TMMCustomAudioFile::Stopped() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        streaming_ = false;
        endReached_ = true;
        tailSent_ = true;
    }
    TMMBaseAudioFile::Stopped();
}

void TMMCustomAudioFile::StreamReset() {
    if (IsOpen()) {
        std::lock_guard<std::mutex> lock(lock_);
        RestartCounting();
    }
    TMMBaseAudioFile::StreamReset();
}

void TMMCustomAudioFile::Closed() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        streaming_ = false;
        endReached_ = true;
        tailSent_ = true;
    }
    TMMBaseAudioFile::Closed();
}

// --- Buffers ---------------------------------------------------------------------------

void TMMCustomAudioFile::FillTail(PMMWaveHdr header, uint32_t bytes) {
    bytes = std::min(bytes, header->wh.dwBufferLength);
    std::memset(header->wh.lpData, fillByte_, bytes);
    header->wh.dwBytesRecorded = bytes;
}

void TMMCustomAudioFile::LoadFromChain(PMMWaveHdr header, bool& more) {
    // The internal sources must not loop on their own: the end is decided here.
    const int32_t looping = header->dwLooping;
    header->dwLooping = 0;
    {
        auto undo = ScopeExit([header, looping] { header->dwLooping = looping; });
        TMMBaseAudioFile::BufferLoad(header, more);
        undo.Dismiss();
    }
    header->dwLooping = looping;
}

void TMMCustomAudioFile::BufferLoad(PMMWaveHdr header, bool& more) {
    if (!header || !IsOpen() || !streaming_) return;
    std::lock_guard<std::mutex> lock(lock_);
    WAVEHDR& wh = header->wh;
    const uint32_t capacity = wh.dwBufferLength;
    int64_t request = capacity;
    if (endMs_ < fileLengthMs_) request = std::min<int64_t>(capacity, bytesToDeliver_ - bytesDelivered_);
    wh.dwBytesRecorded = 0;
    bool atEnd = endReached_;
    if (request >= 1 && !endReached_) {
        bool innerMore = false;
        try {
            wh.dwBufferLength = uint32_t(request);
            LoadFromChain(header, innerMore);
            wh.dwBufferLength = capacity;
        } catch (...) {
            wh.dwBufferLength = capacity;
            bool handled = false;
            if (OnError) OnError(this, handled);
            if (!handled) throw;
            FillTail(header, kTailBytes);
            more = true;
            return;
        }
        const uint32_t got = std::min(wh.dwBytesRecorded, uint32_t(request));
        wh.dwBytesRecorded = got;
        bytesDelivered_ += got;
        ApplyEnvelope(reinterpret_cast<uint8_t*>(wh.lpData), got);
        if (got == 0 || !innerMore) {
            if (header->dwLooping) {
                // Served by going round again (the import never asks for it).
                SeekSource(0);
                adpcm_->StreamReset();
                pcm_->StreamReset();
                RestartCounting();
                bytesDelivered_ = got;
                more = true;
                header->dwLooped = -1;
                return;
            }
            more = false;
            endReached_ = true;
            atEnd = true;
        } else {
            more = true;
        }
    }
    if (request < 1) {
        more = false;
        endReached_ = true;
        atEnd = true;
    }
    if (atEnd && wh.dwBytesRecorded == 0 && !tailSent_) {
        FillTail(header, kTailBytes);
        tailSent_ = true;
    }
}
