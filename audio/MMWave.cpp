#include "audio/MMWave.h"

#include "audio/MMUtils.h"
#include "common/ScopeExit.h"
#include "platform/MMIO.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>


namespace fs = std::filesystem;

namespace {

constexpr int32_t kMinIOBufferSize = 8192;
constexpr int32_t kNoFileSampleRate = 11025;
// Room the sink keeps free on the volume beyond its I/O buffer and the buffer to write.
constexpr int64_t kDiskReserve = 10240;

std::string expandFileName(const std::string& name) {
    if (name.empty()) return name;
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(name), ec);
    if (ec) return name;
    return p.lexically_normal().string();
}

int64_t sizeOnDisk(const std::string& name) {
    std::error_code ec;
    if (!fs::is_regular_file(name, ec)) return -1;
    const auto size = fs::file_size(name, ec);
    return ec ? -1 : int64_t(size);
}

bool fileExists(const std::string& name) {
    return mmioOpen(name.c_str(), nullptr, MMIO_EXIST) != nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Observers

TMMObserver::~TMMObserver() {
    if (subject_) subject_->RemoveObserver(this);
}

TMMObservable::~TMMObservable() {
    for (TMMObserver* o : observers_) o->subject_ = nullptr;
}

void TMMObservable::AddObserver(TMMObserver* observer) {
    if (!observer || observer->subject_ == this) return;
    if (observer->subject_) observer->subject_->RemoveObserver(observer);
    observers_.push_back(observer);
    observer->subject_ = this;
}

void TMMObservable::RemoveObserver(TMMObserver* observer) {
    auto it = std::find(observers_.begin(), observers_.end(), observer);
    if (it == observers_.end()) return;
    observers_.erase(it);
    observer->subject_ = nullptr;
}

void TMMObservable::NotifyObservers(TMMObject* sender) {
    // A callback may remove observers: walk a copy and skip those that left meanwhile.
    const std::vector<TMMObserver*> snapshot = observers_;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        TMMObserver* o = *it;
        if (std::find(observers_.begin(), observers_.end(), o) == observers_.end()) continue;
        if (o->lockCount_ == 0 && o->proc_) o->proc_(o->data_, o, sender);
    }
}

// ---------------------------------------------------------------------------------------
// TMMWave

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() { Reset(); }

void TMMWave::Changed() {
    TMMObject::Changed();
    if (UpdateCount() == 0) observable_.NotifyObservers(this);
}

void TMMWave::Reset() {
    CloseFile();
    fileName_.clear();
    if (record_) WaveIOFree(record_);
    cutList_.Clear();
    startFrame_ = endFrame_ = position_ = rangeBytes_ = bytesToRead_ = 0;
    segIndex_ = -1;
    segBytesLeft_ = 0;
}

void TMMWave::Adopt(TWaveIORecordPtr record) {
    record_ = std::move(record);
    startFrame_ = record_->StartSample;
    endFrame_ = int32_t(record_->EndSample);
    position_ = int32_t(record_->SamplePos);
    bytesToRead_ = record_->BytesLeft;
}

void TMMWave::RebuildSegments() {
    cutList_.Clear();
    if (!PWaveFormat()) return;
    TMMSegment s;
    s.StartSample = startFrame_;
    s.StartByte = SamplesToBytes(startFrame_);
    s.Samples = endFrame_ - startFrame_;
    s.Bytes = SamplesToBytes(s.Samples);
    cutList_.Add(s);
}

int32_t TMMWave::TotalFrames() const {
    if (!record_) return 0;
    if (cutList_.Count() == 0) return endFrame_ - startFrame_;
    int64_t sum = 0;
    for (int32_t i = 0; i < cutList_.Count(); ++i) sum += cutList_.Items(i).Samples;
    return int32_t(sum);
}

int32_t TMMWave::RangeSamples() const { return TotalFrames(); }

void TMMWave::SetTimeFormat(TMMTimeFormats value) {
    if (value == timeFormat_) return;
    timeFormat_ = value;
    RebuildSegments();
}

void TMMWave::SetFileName(const std::string& value) {
    const std::string name = expandFileName(value);
    if (name == fileName_ && sizeOnDisk(name) == FileSize()) return;
    if (name.empty()) {
        Clear();
        return;
    }
    const bool exists = fileExists(name);
    if (exists) {
        TWaveIORecordPtr record;
        if (WaveIOOpen(name, WAVE_FORMTYPE, WIOF_DISKFILE, record) == WIOERR_NOERROR && record) {
            Reset();
            Adopt(std::move(record));
            fileName_ = name;
            RebuildSegments();
            Notify();
            return;
        }
    } else if (!fileMustExist_) {
        Reset();
        fileName_ = name;
        Notify();
        return;
    }
    if (!exists) throw EMMWaveError(LibraryMessage(lmErrorReadingWaveFile));
    if (!fileName_.empty() && IsWaveFile(fileName_)) throw EMMWaveError(LibraryMessage(lmErrorReadingWaveFile));
    throw EMMWaveError(LibraryMessage(lmInvalidWaveFile));
}

uint16_t TMMWave::BitLength() const {
    const WAVEFORMATEX* f = PWaveFormat();
    return f ? f->wBitsPerSample : 0;
}

TMMMode TMMWave::Mode() const {
    const WAVEFORMATEX* f = PWaveFormat();
    return f && f->nChannels == 2 ? mStereo : mMono;
}

uint16_t TMMWave::FormatTag() const {
    const WAVEFORMATEX* f = PWaveFormat();
    return f ? f->wFormatTag : 0;
}

std::string TMMWave::FormatString() const {
    const WAVEFORMATEX* f = PWaveFormat();
    if (!f) return "Unknown";
    switch (f->wFormatTag) {
    case WAVE_FORMAT_PCM: return "PCM";
    case WAVE_FORMAT_ADPCM: return "ADPCM";
    case WAVE_FORMAT_IEEE_FLOAT: return "IEEE Float";
    case WAVE_FORMAT_ALAW: return "A-Law";
    case WAVE_FORMAT_MULAW: return "Mu-Law";
    case WAVE_FORMAT_DVI_ADPCM: return "IMA ADPCM";
    case WAVE_FORMAT_GSM610: return "GSM 6.10";
    case WAVE_FORMAT_MPEG: return "MPEG";
    case WAVE_FORMAT_MPEGLAYER3: return "MPEG Layer-3";
    default: return "Unknown";
    }
}

int32_t TMMWave::SampleRate() const {
    const WAVEFORMATEX* f = PWaveFormat();
    return f ? int32_t(f->nSamplesPerSec) : kNoFileSampleRate;
}

int32_t TMMWave::FileSize() const { return record_ ? int32_t(record_->FileSize) : 0; }

int32_t TMMWave::DataSize() const { return record_ ? SamplesToTime(int32_t(record_->DataSamples)) : 0; }

void TMMWave::SetIOBufferSize(int32_t value) {
    ioBufferSize_ = std::max(value, kMinIOBufferSize);
    if (record_ && record_->Handle && WaveIOSetBuffer(record_.get(), ioBufferSize_) != WIOERR_NOERROR)
        throw EMMWaveError(LibraryMessage(lmUnableToSetupIOBuffer));
}

WAVEFORMATEX* TMMWave::PWaveFormat() const { return record_ ? record_->Format() : nullptr; }

int32_t TMMWave::SamplesToBytes(int32_t samples) const {
    const WAVEFORMATEX* f = PWaveFormat();
    return f ? ::SamplesToBytes(f, samples) : 0;
}

int32_t TMMWave::BytesToSamples(int32_t bytes) const {
    const WAVEFORMATEX* f = PWaveFormat();
    return f ? ::BytesToSamples(f, bytes) : 0;
}

int32_t TMMWave::SamplesToTime(int32_t samples) const {
    const WAVEFORMATEX* f = PWaveFormat();
    if (!f) return 0;
    switch (timeFormat_) {
    case tfMillisecond: return SamplesToMs(f, samples);
    case tfByte: return ::SamplesToBytes(f, samples);
    case tfSample: break;
    }
    return samples;
}

int32_t TMMWave::TimeToSamples(int32_t time) const {
    const WAVEFORMATEX* f = PWaveFormat();
    if (!f) return 0;
    switch (timeFormat_) {
    case tfMillisecond: return MsToSamples(f, time);
    case tfByte: return ::BytesToSamples(f, time);
    case tfSample: break;
    }
    return time;
}

int32_t TMMWave::Position() const { return record_ ? SamplesToTime(position_) : -1; }

int32_t TMMWave::StartPosition() const { return SamplesToTime(startFrame_); }

int32_t TMMWave::EndPosition() const { return SamplesToTime(endFrame_); }

void TMMWave::SetStartPosition(int32_t value) {
    if (!record_) return;
    startFrame_ = MinMax(TimeToSamples(value), 0, endFrame_);
    RebuildSegments();
}

void TMMWave::SetEndPosition(int32_t value) {
    if (!record_) return;
    endFrame_ = MinMax(TimeToSamples(value), startFrame_, int32_t(record_->DataSamples));
    RebuildSegments();
}

void TMMWave::SetPosition(int32_t value) {
    if (!record_) return;
    position_ = TimeToSamples(value);
    if (!opened_) return;
    const int32_t total = TotalFrames();
    const int32_t offset = MinMax(position_, 0, total);
    rangeBytes_ = SamplesToBytes(total);
    bytesToRead_ = rangeBytes_ - SamplesToBytes(offset);
    segIndex_ = -1;
    segBytesLeft_ = -1;
    int64_t sum = 0;
    for (int32_t i = 0; i < cutList_.Count(); ++i) {
        const TMMSegment& s = cutList_.Items(i);
        sum += s.Samples;
        if (sum < offset) continue;
        const int32_t target = int32_t(s.StartSample + s.Samples - (sum - offset));
        if (WaveIOSeek(record_.get(), target) != WIOERR_NOERROR &&
            WaveIOSeek(record_.get(), target) != WIOERR_NOERROR)
            throw EMMWaveError(LibraryMessage(lmErrorSeekingPosition));
        segBytesLeft_ = SamplesToBytes(int32_t(sum - offset));
        segIndex_ = i;
        return;
    }
    throw EMMWaveError(LibraryMessage(lmErrorSeekingPosition));
}

void TMMWave::Clear() {
    if (fileName_.empty() && !record_) return;
    Reset();
    Notify();
}

void TMMWave::OpenFile() {
    if (!record_) return;
    if (WaveIOReopen(record_.get()) != WIOERR_NOERROR) throw EMMWaveError(LibraryMessage(lmUnableToOpenWaveFile));
    if (WaveIOSetBuffer(record_.get(), ioBufferSize_) != WIOERR_NOERROR)
        throw EMMWaveError(LibraryMessage(lmUnableToSetupIOBuffer));
    RebuildSegments();
    opened_ = true;
    SetPosition(Position());
}

void TMMWave::CloseFile() {
    if (record_) closeFailed_ = WaveIOClose(record_.get()) != WIOERR_NOERROR;
    opened_ = false;
    position_ = 0;
    bytesToRead_ = 0;
}

int32_t TMMWave::ReadDataBytes(void* buffer, int32_t count) {
    if (!record_ || bytesToRead_ <= 0) return -1;
    if (count <= 0 || !buffer) return 0;
    char* out = static_cast<char*>(buffer);
    int32_t n = std::min(count, bytesToRead_);
    int32_t total = 0;
    bool rangeEnded = false;
    while (n > 0) {
        if (segBytesLeft_ > 0) {
            const int32_t r = WaveIORead(record_.get(), out + total, std::min(n, segBytesLeft_));
            if (r <= 0) break;
            n -= r;
            total += r;
            segBytesLeft_ -= r;
        } else if (segIndex_ >= cutList_.Count() - 1) {
            rangeEnded = true;
            break;
        } else {
            ++segIndex_;
            const TMMSegment& s = cutList_.Items(segIndex_);
            segBytesLeft_ = s.Bytes;
            WaveIOSeek(record_.get(), s.StartSample);
        }
    }
    if (total > 0) {
        bytesToRead_ = rangeEnded ? 0 : bytesToRead_ - total;
        position_ = BytesToSamples(rangeBytes_ - bytesToRead_);
        return total;
    }
    // The file gave nothing although the range promised more: end the range with a few
    // zero bytes so that a consumer sees one last, silent buffer. Never more than asked for.
    const int32_t zeros = std::min(count, 4);
    std::memset(out, 0, size_t(zeros));
    bytesToRead_ = 0;
    segBytesLeft_ = 0;
    position_ = TotalFrames();
    return zeros;
}

int32_t TMMWave::WriteDataBytes(const void* buffer, int32_t count) {
    if (!record_) return -1;
    const int32_t r = WaveIOWrite(record_.get(), buffer, count);
    endFrame_ = int32_t(record_->EndSample);
    RebuildSegments();
    return r;
}

void TMMWave::CreateFile(const std::string& name, const WAVEFORMATEX* format) {
    if (name.empty() || !format) return;
    const std::string full = expandFileName(name);
    // The format may belong to an observer that a notification below replaces.
    const TMMWaveFormatPtr fmt = CopyFormat(format);

    TWaveIORecordPtr record;
    std::string parsed;
    bool ok = full.size() <= size_t(MMIO_MAXPATH);
    if (ok) {
        char buf[MMIO_MAXPATH + 1] = {};
        std::memcpy(buf, full.data(), full.size());
        ok = mmioOpen(buf, nullptr, MMIO_PARSE) != nullptr;
        parsed = buf;
    }
    if (ok) {
        if (fileExists(parsed)) mmioOpen(parsed.c_str(), nullptr, MMIO_DELETE);
        record = WaveIOCreateRecord(fmt.get());
        ok = record && WaveIOCreate(record.get(), parsed) == WIOERR_NOERROR;
    }
    if (!ok) {
        if (record) {
            WaveIOClose(record.get());
            WaveIOFree(record);
        }
        throw EMMWaveError(LibraryMessage(lmUnableToCreateWaveFile));
    }

    Reset();
    Adopt(std::move(record));
    fileName_ = parsed;
    RebuildSegments();
    Notify();
    if (WaveIOSetBuffer(record_.get(), ioBufferSize_) != WIOERR_NOERROR)
        throw EMMWaveError(LibraryMessage(lmUnableToSetupIOBuffer));
}

// ---------------------------------------------------------------------------------------
// TMMCustomWaveFile

TMMCustomWaveFile::TMMCustomWaveFile(TMMComponent* owner)
    : TMMDSPComponent(owner),
      wave_(std::make_unique<TMMWave>()),
      observer_([this](void*, TMMObserver*, TMMObject*) { WaveChanged(); }) {
    wave_->AddObserver(&observer_);
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
    try {
        Closed();
    } catch (...) {
        // A handler of OnClose failed; the file itself is finished already.
    }
    wave_->RemoveObserver(&observer_);
    wave_.reset();
}

void TMMCustomWaveFile::WaveChanged() {
    if (OnChange) OnChange(this);
    {
        auto changed = ScopeExit([this] {
            if (OnChanged) OnChanged(this);
        });
        if (wave_->FileMustExist() || wave_->PWaveFormat()) SetPWaveFormat(wave_->PWaveFormat());
        changed.Dismiss();
    }
    if (OnChanged) OnChanged(this);
}

void TMMCustomWaveFile::SetPWaveFormat(const WAVEFORMATEX* format) {
    TMMDSPComponent::SetPWaveFormat(format);
    const WAVEFORMATEX* f = PWaveFormat();
    silence_ = f && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 8 ? 128 : 0;
}

void TMMCustomWaveFile::Opened() {
    TMMDSPComponent::Opened();
    if (waveOpen_) return;
    writeFailed_ = false;
    if (IsSink()) {
        SetPWaveFormat(Input()->PWaveFormat());
        if (PWaveFormat() && !wave_->FileName().empty()) {
            if (overwriteExisting_ || wave_->IsEmpty()) {
                const std::string name = wave_->FileName();
                const TMMWaveFormatPtr format = CopyFormat(PWaveFormat());
                wave_->CreateFile(name, format.get());
            } else {
                wave_->OpenFile();  // writing goes on at the wave's position
            }
            waveOpen_ = true;
        }
    } else if (!wave_->IsEmpty()) {
        wave_->OpenFile();
        openPosition_ = wave_->Position();
        waveOpen_ = true;
    }
    if (waveOpen_ && OnOpen) CallInMainThread([this] { OnOpen(this); });
}

void TMMCustomWaveFile::Started() {
    TMMDSPComponent::Started();
    if (waveOpen_ && !waveStarted_) {
        waveStarted_ = true;
        if (!IsSink()) wave_->SetPosition(openPosition_);
    }
}

void TMMCustomWaveFile::Stopped() {
    if (waveOpen_ && waveStarted_) waveStarted_ = false;
    TMMDSPComponent::Stopped();
}

void TMMCustomWaveFile::StreamReset() { TMMDSPComponent::StreamReset(); }

void TMMCustomWaveFile::Closed() {
    if (waveOpen_) {
        Stopped();
        const bool sink = IsSink();
        // A file with an empty data chunk is of no use to any reader: give it four zero bytes.
        if (sink && !wave_->FileName().empty() && wave_->PWaveFormat() && wave_->DataSize() == 0) {
            const uint8_t zeros[4] = {};
            wave_->WriteDataBytes(zeros, 4);
        }
        wave_->CloseFile();
        waveOpen_ = false;
        if (sink && wave_->CloseFailed()) writeFailed_ = true;
        if (writeFailed_ && OnWriteError) CallInMainThread([this] { OnWriteError(this); });
        if (OnClose) CallInMainThread([this] { OnClose(this); });
    }
    TMMDSPComponent::Closed();
}

void TMMCustomWaveFile::BufferLoad(PMMWaveHdr header, bool& more) {
    if (IsSink()) {
        TMMDSPComponent::BufferLoad(header, more);
        if (waveStarted_ && enabled_ && !wave_->FileName().empty() && header->wh.dwBytesRecorded > 0)
            WriteBuffer(header);
        return;
    }
    if (OnBufferLoad) OnBufferLoad(this, header, more);
    if (wave_->IsEmpty()) {
        header->wh.dwBytesRecorded = 0;
        return;
    }
    if (!waveStarted_ || !enabled_) {
        std::memset(header->wh.lpData, silence_, header->wh.dwBufferLength);
        header->wh.dwBytesRecorded = header->wh.dwBufferLength;
        more = true;
        return;
    }
    const int32_t r = wave_->ReadDataBytes(header->wh.lpData, int32_t(header->wh.dwBufferLength));
    header->wh.dwBytesRecorded = uint32_t(std::max(r, 0));
    if (r <= 0) return;
    if (wave_->BytesLeft() > 0) {
        more = true;
    } else if (header->dwLooping) {
        if (header->dwLoopCount > 0) --header->dwLoopTmpCnt;
        if (header->dwLoopCount != 0 && header->dwLoopTmpCnt < 0) return;
        wave_->SetPosition(0);
        if (OnLooping) OnLooping(this);
        more = true;
        header->dwLooped = -1;
    }
}

void TMMCustomWaveFile::BufferReady(PMMWaveHdr header) {
    if (IsSink() && waveStarted_ && enabled_ && !wave_->FileName().empty() &&
        header->wh.dwBytesRecorded > 0)
        WriteBuffer(header);
    TMMDSPComponent::BufferReady(header);
}

void TMMCustomWaveFile::WriteBuffer(PMMWaveHdr header) {
    const int32_t bytes = int32_t(header->wh.dwBytesRecorded);
    const int64_t needed = int64_t(wave_->IOBufferSize()) + bytes + kDiskReserve;
    if (!DiskHasRoom(wave_->FileName(), needed) || wave_->WriteDataBytes(header->wh.lpData, bytes) <= 0) {
        // Finish the file with what it holds; the chain runs on without writing.
        writeFailed_ = true;
        Closed();
    }
}
