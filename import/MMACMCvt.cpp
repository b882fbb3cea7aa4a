#include "import/MMACMCvt.h"

#include "audio/MMUtils.h"
#include "platform/ACM.h"

#include <algorithm>
#include <cstring>

TMMFormatBytes FormatBytes(const WAVEFORMATEX* format) {
    const int32_t size = FormatSize(format);
    if (size <= 0) return {};
    TMMFormatBytes f(size_t(size), 0);
    std::memcpy(f.data(), format, size_t(size));
    if (format->wFormatTag == WAVE_FORMAT_PCM) reinterpret_cast<WAVEFORMATEX*>(f.data())->cbSize = 0;
    return f;
}

bool FormatsDiffer(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
    if (!a || !b) return false;
    return a->wFormatTag != b->wFormatTag || a->wBitsPerSample != b->wBitsPerSample ||
           a->nChannels != b->nChannels || a->nSamplesPerSec != b->nSamplesPerSec;
}

namespace {
bool QueryOpen(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) {
    return AcmStream::Open(nullptr, src, dst, true) == MMSYSERR_NOERROR;
}
}  // namespace

bool SuggestPCMFormat(const WAVEFORMATEX* src, WAVEFORMATEX& pcm) {
    if (!src) return false;
    if (src->wFormatTag == WAVE_FORMAT_PCM && (src->wBitsPerSample == 8 || src->wBitsPerSample == 16) &&
        (src->nChannels == 1 || src->nChannels == 2)) {
        SetPCMFormat(&pcm, src->wBitsPerSample, src->nChannels, int32_t(src->nSamplesPerSec));
        return true;
    }
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    if (acmFormatSuggest(src, &f, ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR || !QueryOpen(src, &f))
        return false;
    pcm = f;
    return true;
}

// ---------------------------------------------------------------------------------------
// TMMConvertPump

void TMMConvertPump::Setup(uint32_t chunk, TConvert convert, std::function<void()> onStall) {
    chunk_ = std::max<uint32_t>(chunk, 1);
    convert_ = std::move(convert);
    onStall_ = std::move(onStall);
    source_.reset();
    Reset();
}

void TMMConvertPump::Reset() {
    pending_.clear();
    output_.clear();
    outPos_ = 0;
    inputEnded_ = false;
    flushed_ = false;
    stalls_ = 0;
}

void TMMConvertPump::Load(TMMDSPComponent* self, PMMWaveHdr header, bool& more) {
    WAVEHDR& wh = header->wh;
    const uint32_t capacity = wh.dwBufferLength;
    uint32_t filled = 0;
    for (;;) {
        if (outPos_ < output_.size()) {
            const size_t n = std::min<size_t>(capacity - filled, output_.size() - outPos_);
            std::memcpy(wh.lpData + filled, output_.data() + outPos_, n);
            filled += uint32_t(n);
            outPos_ += n;
            if (outPos_ == output_.size()) {
                output_.clear();
                outPos_ = 0;
            }
        }
        if (filled == capacity || flushed_) break;
        if (inputEnded_) {
            convert_(pending_.data(), uint32_t(pending_.size()), true, output_);
            pending_.clear();
            flushed_ = true;
            continue;
        }
        if (!source_) source_ = NewWaveHdr(chunk_);
        source_->wh.dwBufferLength = chunk_;
        source_->wh.dwBytesRecorded = 0;
        source_->dwLooping = header->dwLooping;
        source_->dwLooped = 0;
        bool inputMore = false;
        self->TMMDSPComponent::BufferLoad(source_.get(), inputMore);
        if (source_->dwLooped) header->dwLooped = source_->dwLooped;
        const uint32_t n = std::min(source_->wh.dwBytesRecorded, chunk_);
        if (n == 0 || !inputMore) inputEnded_ = true;
        if (n == 0) continue;
        pending_.insert(pending_.end(), source_->wh.lpData, source_->wh.lpData + n);
        const size_t before = output_.size();
        const uint32_t used = convert_(pending_.data(), uint32_t(pending_.size()), false, output_);
        pending_.erase(pending_.begin(), pending_.begin() + std::min<size_t>(used, pending_.size()));
        if (output_.size() == before && !inputEnded_) {
            if (++stalls_ >= 5) {
                stalls_ = 0;
                onStall_();
            }
        } else {
            stalls_ = 0;
        }
    }
    wh.dwBytesRecorded = filled;
    more = !flushed_ || outPos_ < output_.size();
}

// ---------------------------------------------------------------------------------------
// TMMACMConverter

struct TMMACMConverter::Stage {
    std::unique_ptr<AcmStream> stream;
    std::vector<uint8_t> pending;  // input of this stage not yet used (stages after the first)
};

TMMACMConverter::TMMACMConverter(TMMComponent* owner) : TMMDSPComponent(owner) {}

TMMACMConverter::~TMMACMConverter() = default;

void TMMACMConverter::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    UpdateFormat();
}

bool TMMACMConverter::Converting() const {
    return enabled_ && InputFormat() && PWaveFormat() && FormatsDiffer(InputFormat(), PWaveFormat());
}

bool TMMACMConverter::Query(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) const { return QueryOpen(src, dst); }

bool TMMACMConverter::BuildPath(const WAVEFORMATEX* src, const WAVEFORMATEX* dst, std::vector<TMMFormatBytes>& path,
                                int depth) const {
    if (!src || !dst || depth > 3) return false;
    if (!FormatsDiffer(src, dst)) return true;
    if (Query(src, dst)) {
        path.push_back(FormatBytes(dst));
        return true;
    }
    // Through a PCM format between: first one with the destination's channels and rate.
    constexpr uint32_t tagChannelsRate =
        ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
    WAVEFORMATEX mid{};
    auto reset = [&](uint16_t tag) {
        mid = WAVEFORMATEX{};
        mid.wFormatTag = tag;
        mid.nChannels = dst->nChannels;
        mid.nSamplesPerSec = dst->nSamplesPerSec;
    };
    if (src->wFormatTag == WAVE_FORMAT_PCM) {
        if (src->nChannels == dst->nChannels && src->nSamplesPerSec == dst->nSamplesPerSec) return false;
        reset(WAVE_FORMAT_PCM);
        bool ok = acmFormatSuggest(src, &mid, tagChannelsRate) == MMSYSERR_NOERROR && Query(src, &mid);
        if (!ok) {
            reset(WAVE_FORMAT_PCM);
            mid.wBitsPerSample = src->wBitsPerSample == 16 ? 8 : 16;
            ok = acmFormatSuggest(src, &mid, tagChannelsRate | ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ==
                     MMSYSERR_NOERROR &&
                 Query(src, &mid);
        }
        if (!ok) return false;
    } else {
        reset(dst->wFormatTag);
        if (acmFormatSuggest(src, &mid, tagChannelsRate) != MMSYSERR_NOERROR) {
            reset(dst->wFormatTag);
            if (acmFormatSuggest(src, &mid, ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR) return false;
        }
        if (!Query(src, &mid)) return false;
    }
    path.push_back(FormatBytes(&mid));
    return BuildPath(AsFormat(path.back()), dst, path, depth + 1);
}

bool TMMACMConverter::CanConvert(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) const {
    std::vector<TMMFormatBytes> path;
    return BuildPath(src, dst, path, 0);
}

bool TMMACMConverter::WantedFormat(const WAVEFORMATEX*, TMMFormatBytes&) const { return false; }

void TMMACMConverter::UpdateFormat() {
    const WAVEFORMATEX* in = InputFormat();
    TMMFormatBytes wanted;
    if (enabled_ && in && WantedFormat(in, wanted) && FormatsDiffer(in, AsFormat(wanted)) &&
        CanConvert(in, AsFormat(wanted)))
        SetPWaveFormat(AsFormat(wanted));
    else
        SetPWaveFormat(in);
}

void TMMACMConverter::InputFormatChanged(const WAVEFORMATEX* format) {
    input_ = FormatBytes(format);
    UpdateFormat();
}

void TMMACMConverter::CloseChain() {
    stages_.clear();
    pump_.Reset();
    pushPending_.clear();
}

void TMMACMConverter::Opened() {
    TMMDSPComponent::Opened();
    CloseChain();
    if (!Converting()) return;
    std::vector<TMMFormatBytes> path;
    if (!BuildPath(InputFormat(), PWaveFormat(), path, 0) || path.empty())
        throw EMMConverterError(LibraryMessage(lmUnableToConvert));
    const WAVEFORMATEX* src = InputFormat();
    for (const TMMFormatBytes& f : path) {
        auto stage = std::make_unique<Stage>();
        if (AcmStream::Open(&stage->stream, src, AsFormat(f)) != MMSYSERR_NOERROR) {
            CloseChain();
            throw EMMConverterError(LibraryMessage(lmUnableToConvert));
        }
        stages_.push_back(std::move(stage));
        src = AsFormat(f);
    }
    const uint32_t block = stages_.front()->stream->SourceBlockSize();
    const uint32_t chunk = uint32_t(std::min<int32_t>(8192, std::max<int32_t>(BufferSize(), 65536)));
    // Whole source blocks, and never less than one.
    chunk_ = std::max(chunk - chunk % block, block);
    pump_.Setup(
        chunk_, [this](const uint8_t* s, uint32_t n, bool end, std::vector<uint8_t>& out) { return Convert(s, n, end, out); },
        [] { throw EMMConverterError(LibraryMessage(lmUnableToConvert)); });
}

void TMMACMConverter::Closed() {
    CloseChain();
    TMMDSPComponent::Closed();
}

void TMMACMConverter::StreamReset() {
    for (auto& stage : stages_) {
        stage->stream->Reset();
        stage->pending.clear();
    }
    pump_.Reset();
    pushPending_.clear();
    TMMDSPComponent::StreamReset();
}

uint32_t TMMACMConverter::Convert(const uint8_t* src, uint32_t n, bool end, std::vector<uint8_t>& out) {
    uint32_t firstUsed = 0;
    for (size_t i = 0; i < stages_.size(); ++i) {
        Stage& stage = *stages_[i];
        const uint8_t* data = i == 0 ? src : stage.pending.data();
        const uint32_t length = i == 0 ? n : uint32_t(stage.pending.size());
        std::vector<uint8_t>& target = i + 1 == stages_.size() ? out : stages_[i + 1]->pending;
        const size_t at = target.size();
        const uint32_t room = stage.stream->DestinationSize(length);
        target.resize(at + room);
        uint32_t used = 0, made = 0;
        stage.stream->Convert(data, length, target.data() + at, room, used, made, end);
        target.resize(at + made);
        if (i == 0) firstUsed = used;
        else stage.pending.erase(stage.pending.begin(), stage.pending.begin() + used);
    }
    return firstUsed;
}

void TMMACMConverter::BufferLoad(PMMWaveHdr header, bool& more) {
    if (!header) return;
    if (stages_.empty()) {
        TMMDSPComponent::BufferLoad(header, more);
        return;
    }
    pump_.Load(this, header, more);
}

void TMMACMConverter::BufferReady(PMMWaveHdr header) {
    if (!header || stages_.empty()) {
        TMMDSPComponent::BufferReady(header);
        return;
    }
    pushPending_.insert(pushPending_.end(), header->wh.lpData, header->wh.lpData + header->wh.dwBytesRecorded);
    while (!pushPending_.empty()) {
        const uint32_t n = std::min<uint32_t>(uint32_t(pushPending_.size()), chunk_);
        pushOut_.clear();
        const uint32_t used = Convert(pushPending_.data(), n, false, pushOut_);
        pushPending_.erase(pushPending_.begin(), pushPending_.begin() + used);
        if (!pushOut_.empty()) {
            if (!pushHdr_ || pushHdr_->wh.dwBufferLength < pushOut_.size()) pushHdr_ = NewWaveHdr(uint32_t(pushOut_.size()));
            std::memcpy(pushHdr_->wh.lpData, pushOut_.data(), pushOut_.size());
            pushHdr_->wh.dwBytesRecorded = uint32_t(pushOut_.size());
            TMMDSPComponent::BufferReady(pushHdr_.get());
        }
        if (used == 0) break;  // a partial block waits for the next buffer
    }
}

// ---------------------------------------------------------------------------------------
// TMMPCMConverter

TMMPCMConverter::TMMPCMConverter(TMMComponent* owner) : TMMACMConverter(owner) {}

void TMMPCMConverter::SetAutoConvert(bool value) {
    if (value == autoConvert_) return;
    autoConvert_ = value;
    UpdateFormat();
}

void TMMPCMConverter::SetSampleRate(int32_t value) {
    value = MinMax(value, 8000, 88200);
    if (value == sampleRate_) return;
    sampleRate_ = value;
    UpdateFormat();
}

void TMMPCMConverter::SetBitLength(TMMBits value) {
    if (value == bitLength_) return;
    bitLength_ = value;
    UpdateFormat();
}

void TMMPCMConverter::SetMode(TMMMode value) {
    if ((value != mMono && value != mStereo) || value == mode_) return;
    mode_ = value;
    UpdateFormat();
}

void TMMPCMConverter::SetRequired(uint32_t value) {
    value &= prBits | prChannels | prRate;
    if (value == required_) return;
    required_ = value;
    UpdateFormat();
}

void TMMPCMConverter::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format && !IsPCMFormat(format)) throw EMMConverterError(LibraryMessage(lmInvalidWaveFormatTag));
    TMMACMConverter::SetPWaveFormat(format);
}

bool TMMPCMConverter::WantedFormat(const WAVEFORMATEX* input, TMMFormatBytes& wanted) const {
    const int32_t bits = (int32_t(bitLength_) + 1) * 8;
    const int32_t channels = int32_t(mode_) + 1;
    WAVEFORMATEX f{};
    if (!input) {
        SetPCMFormat(&f, bits, channels, sampleRate_);
    } else {
        if (!SuggestPCMFormat(input, f)) return false;
        if (!autoConvert_)
            SetPCMFormat(&f, (required_ & prBits) ? bits : f.wBitsPerSample,
                         (required_ & prChannels) ? channels : f.nChannels,
                         (required_ & prRate) ? sampleRate_ : int32_t(f.nSamplesPerSec));
    }
    wanted = FormatBytes(&f);
    return true;
}
