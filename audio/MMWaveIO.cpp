#include "audio/MMWaveIO.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

std::string WaveIOErrorText(int32_t code) {
    switch (code) {
    case WIOERR_NOERROR: return "No error";
    case WIOERR_NOFORMAT: return "The wave file has no format chunk, or no file is open";
    case WIOERR_BADRECORD: return "No wave record or file name";
    case WIOERR_FILEERROR: return "The wave file could not be opened, positioned, read or written";
    case WIOERR_NOMEM: return "Out of memory for the wave record";
    default: return "Unknown wave I/O error " + std::to_string(code);
    }
}

const std::array<FOURCC, WIO_INFOCOUNT> WaveIOInfoIds = {
    mmioFOURCC('I', 'A', 'R', 'L'), mmioFOURCC('I', 'A', 'R', 'T'), mmioFOURCC('I', 'C', 'M', 'S'),
    mmioFOURCC('I', 'C', 'M', 'T'), mmioFOURCC('I', 'C', 'O', 'P'), mmioFOURCC('I', 'C', 'R', 'D'),
    mmioFOURCC('I', 'C', 'R', 'P'), mmioFOURCC('I', 'D', 'I', 'M'), mmioFOURCC('I', 'D', 'P', 'I'),
    mmioFOURCC('I', 'E', 'N', 'G'), mmioFOURCC('I', 'G', 'N', 'R'), mmioFOURCC('I', 'K', 'E', 'Y'),
    mmioFOURCC('I', 'L', 'G', 'T'), mmioFOURCC('I', 'M', 'E', 'D'), mmioFOURCC('I', 'N', 'A', 'M'),
    mmioFOURCC('I', 'P', 'L', 'T'), mmioFOURCC('I', 'P', 'R', 'D'), mmioFOURCC('I', 'S', 'B', 'J'),
    mmioFOURCC('I', 'S', 'F', 'T'), mmioFOURCC('I', 'S', 'H', 'P'), mmioFOURCC('I', 'S', 'R', 'C'),
    mmioFOURCC('I', 'S', 'R', 'F'), mmioFOURCC('I', 'T', 'C', 'H'),
};

namespace {

constexpr FOURCC kRIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC kLIST = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC kINFO = mmioFOURCC('I', 'N', 'F', 'O');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC kDISP = mmioFOURCC('D', 'I', 'S', 'P');
constexpr uint32_t kDispText = 1;  // the clipboard's text format
constexpr uint32_t kDispDIB = 8;   // the clipboard's bitmap format

uint32_t le32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(u[0]) | (uint32_t(u[1]) << 8) | (uint32_t(u[2]) << 16) | (uint32_t(u[3]) << 24);
}

void putLe32(char* p, uint32_t v) {
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
    p[2] = char((v >> 16) & 0xFF);
    p[3] = char((v >> 24) & 0xFF);
}

std::string textUpToZero(const char* p, size_t n) {
    const void* zero = std::memchr(p, 0, n);
    return std::string(p, zero ? static_cast<const char*>(zero) - p : n);
}

// Frames of a byte count and bytes of a frame count, on the record's format. The 32-bit
// conversions (rounding) serve every count that fits; larger ones use the 64-bit ones.
uint32_t bytesToFrames(const WaveIORecord* r, int64_t bytes) {
    if (bytes <= std::numeric_limits<int32_t>::max())
        return uint32_t(std::max(0, BytesToSamples(r->Format(), int32_t(std::max<int64_t>(bytes, 0)))));
    return uint32_t(BytesToSamples64(r->Format(), bytes));
}

int64_t framesToBytes(const WaveIORecord* r, int64_t frames) {
    if (frames >= 0 && frames <= std::numeric_limits<int32_t>::max() / 8)
        return SamplesToBytes(r->Format(), int32_t(frames));
    return SamplesToBytes64(r->Format(), frames);
}

int32_t clampBytesLeft(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, 0, std::numeric_limits<int32_t>::max()));
}

int32_t currentPos(HMMIO h) { return mmioSeek(h, 0, SEEK_CUR); }

// Opens the file as parsing and reopening do: read-only files for reading, others for
// reading and writing (falling back to reading); then the first chunk must be RIFF with the
// form type given.
int32_t openRiff(WaveIORecord* rec, const std::string& name, FOURCC formType) {
    HMMIO h = nullptr;
    if (::access(name.c_str(), W_OK) == 0)
        h = mmioOpen(name.c_str(), nullptr, MMIO_READWRITE | MMIO_ALLOCBUF);
    if (!h)
        h = mmioOpen(name.c_str(), nullptr, MMIO_READ | MMIO_ALLOCBUF);
    if (!h)
        return WIOERR_FILEERROR;
    MMCKINFO riff{};
    if (mmioDescend(h, &riff, nullptr, 0) != MMSYSERR_NOERROR || riff.ckid != kRIFF ||
        riff.fccType != formType) {
        mmioClose(h);
        return WIOERR_FILEERROR;
    }
    rec->Handle = h;
    rec->RiffChunk = riff;
    return WIOERR_NOERROR;
}

void closeHandle(WaveIORecord* rec) {
    if (rec->Handle) {
        mmioClose(rec->Handle);
        rec->Handle = nullptr;
    }
}

void resetInfoList(WaveIORecord* rec) {
    for (int i = 0; i < WIO_INFOCOUNT; ++i)
        rec->InfoList[size_t(i)] = TWaveIOInfoEntry{WaveIOInfoIds[size_t(i)], false, {}};
}

// Reads the body of a LIST/INFO chunk (positioned after its list type): sub-chunks of id,
// size and text, each padded to an even length.
int32_t readInfoList(WaveIORecord* rec, const MMCKINFO& ck) {
    if (ck.cksize < 4)
        return WIOERR_NOERROR;
    const int32_t len = int32_t(ck.cksize - 4);
    std::string body(size_t(len), '\0');
    if (mmioRead(rec->Handle, body.data(), len) != len)
        return WIOERR_FILEERROR;
    int64_t i = 0;
    while (i + 8 <= len) {
        const FOURCC id = le32(body.data() + i);
        const uint32_t size = le32(body.data() + i + 4);
        const int64_t textLen = std::min<int64_t>(size, len - (i + 8));
        for (auto& entry : rec->InfoList) {
            if (entry.Id == id) {
                entry.Present = true;
                entry.Text = textUpToZero(body.data() + i + 8, size_t(textLen));
            }
        }
        i += 8 + int64_t(size) + (size & 1);
    }
    return WIOERR_NOERROR;
}

int32_t readDisp(WaveIORecord* rec, const MMCKINFO& ck) {
    if (ck.cksize < 4)
        return WIOERR_NOERROR;  // no room for its type: nothing to keep
    std::string body(ck.cksize, '\0');
    if (mmioRead(rec->Handle, body.data(), int32_t(ck.cksize)) != int32_t(ck.cksize))
        return WIOERR_FILEERROR;
    TWaveIODispEntry entry;
    entry.Type = le32(body.data());
    entry.Data = entry.Type == kDispText ? textUpToZero(body.data() + 4, body.size() - 4) : body.substr(4);
    rec->DispList.push_back(std::move(entry));
    return WIOERR_NOERROR;
}

// True when a descended header looks like a real chunk: an id of letters, digits and
// spaces, and a size that stays inside the file. After a data chunk whose header says too
// little (0 from a writer that could not seek back), the sample bytes are read as a header;
// they hardly ever pass this test.
bool looksLikeChunk(const MMCKINFO& ck, uint32_t fileSize) {
    for (int i = 0; i < 4; ++i) {
        const char c = char((ck.ckid >> (8 * i)) & 0xFF);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' '))
            return false;
    }
    return int64_t(ck.dwDataOffset) + ck.cksize <= fileSize;
}

int32_t parse(WaveIORecord* rec, const std::string& name, FOURCC formType) {
    if (int32_t rc = openRiff(rec, name, formType); rc != WIOERR_NOERROR)
        return rc;
    HMMIO h = rec->Handle;
    rec->FileName = name;
    const int32_t end = mmioSeek(h, 0, SEEK_END);
    if (end < 0 || mmioSeek(h, int32_t(rec->RiffChunk.dwDataOffset + 4), SEEK_SET) < 0)
        return WIOERR_FILEERROR;
    rec->FileSize = uint32_t(end);
    MMCKINFO& riff = rec->RiffChunk;
    // A size too small for the form type is the mark of a file whose writer never finished
    // it (created with 0): its chunks reach to the end of the file.
    if (riff.cksize < 4 || int64_t(riff.dwDataOffset) + riff.cksize > rec->FileSize)
        riff.cksize = rec->FileSize - riff.dwDataOffset;
    const int64_t riffEnd = int64_t(riff.dwDataOffset) + riff.cksize;

    resetInfoList(rec);
    rec->DispList.clear();

    bool haveFact = false, haveFmt = false, haveData = false, haveNonEmptyData = false;
    bool previousWasData = false;
    bool dataToEnd = false;
    // Without a chunk after it the data ends with the RIFF chunk: what is appended to a
    // finished file (an ID3v1 tag, for one) is no sound of it.
    int64_t dataEnd = riffEnd;
    uint32_t statedDataBytes = 0;
    rec->DataBytes = 0;
    rec->DataOffset = 0;
    for (;;) {
        MMCKINFO ck{};
        if (mmioDescend(h, &ck, &riff, 0) != MMSYSERR_NOERROR)
            break;
        // The data ends at the next chunk header, even when that chunk ends the scan; when
        // what follows is no chunk header, the data reaches to the end of the RIFF chunk.
        if (previousWasData) {
            if (!looksLikeChunk(ck, rec->FileSize)) {
                dataToEnd = true;
                break;
            }
            dataEnd = int64_t(ck.dwDataOffset) - 8;
        }
        previousWasData = false;
        const int64_t chunkEnd = int64_t(ck.dwDataOffset) + ck.cksize;
        if (chunkEnd > riffEnd) {
            if (haveFmt && haveData)
                break;
            if (chunkEnd > rec->FileSize)
                ck.cksize = rec->FileSize - ck.dwDataOffset;
        }

        bool stop = false;
        if (ck.ckid == kLIST) {
            if (ck.fccType == kINFO)
                if (int32_t rc = readInfoList(rec, ck); rc != WIOERR_NOERROR)
                    return rc;
        } else if (ck.ckid == kDISP) {
            if (int32_t rc = readDisp(rec, ck); rc != WIOERR_NOERROR)
                return rc;
        } else if (ck.ckid == kFmt) {
            if (haveFmt) {
                stop = true;
            } else {
                rec->AllocFormat(std::max<uint32_t>(ck.cksize, sizeof(WAVEFORMATEX)) + 1);
                if (mmioRead(h, rec->Format(), int32_t(ck.cksize)) != int32_t(ck.cksize))
                    return WIOERR_FILEERROR;
                // Without its first 16 bytes a format has no block alignment or bit width.
                if (ck.cksize < 16)
                    return WIOERR_FILEERROR;
                haveFmt = true;
            }
        } else if (ck.ckid == kData) {
            if (haveNonEmptyData) {
                stop = true;
            } else {
                rec->DataBytes = ck.cksize;
                statedDataBytes = ck.cksize;
                rec->DataOffset = ck.dwDataOffset;
                haveData = true;
                haveNonEmptyData = ck.cksize != 0;
                previousWasData = true;
            }
        } else if (ck.ckid == kFact) {
            if (haveFact) {
                stop = true;
            } else if (ck.cksize >= 4) {
                char value[4];
                if (mmioRead(h, value, 4) == 4)
                    haveFact = true;  // the computed frame count always wins over it
            }
        }
        if (stop)
            break;
        if (mmioAscend(h, &ck) != MMSYSERR_NOERROR) {
            if (haveNonEmptyData)
                break;
            return WIOERR_FILEERROR;
        }
    }
    if (!haveFmt)
        return WIOERR_NOFORMAT;

    WAVEFORMATEX* fmt = rec->Format();
    // A stored block alignment of 0 cannot size the data: the file is unusable.
    if (fmt->nBlockAlign == 0)
        return WIOERR_FILEERROR;
    if (dataToEnd)
        dataEnd = riffEnd;
    // The pad byte after data of an odd size is no sample.
    if ((statedDataBytes & 1) && dataEnd == int64_t(rec->DataOffset) + statedDataBytes + 1)
        --dataEnd;
    if (haveData && dataEnd > int64_t(rec->DataOffset)) {
        const uint32_t align = fmt->nBlockAlign;
        rec->DataBytes = uint32_t(((uint64_t(dataEnd) - rec->DataOffset) / align) * align);
    } else {
        rec->DataBytes = 0;
    }
    if (fmt->wFormatTag == WAVE_FORMAT_PCM) {
        fmt->nBlockAlign = uint16_t((uint32_t(fmt->wBitsPerSample) * fmt->nChannels) / 8);
        fmt->nAvgBytesPerSec = uint32_t(fmt->nBlockAlign) * fmt->nSamplesPerSec;
    }
    // Every conversion divides by these; a format without them cannot be used.
    if (fmt->nBlockAlign == 0 || fmt->nAvgBytesPerSec == 0 || fmt->nSamplesPerSec == 0)
        return WIOERR_FILEERROR;

    rec->DataSamples = bytesToFrames(rec, rec->DataBytes);
    // Rounded to the nearest frame, the count may take more bytes than the data has (after
    // a corrected block alignment); reads would then run into the next chunk.
    if (fmt->wFormatTag == WAVE_FORMAT_PCM)
        rec->DataSamples = std::min<uint32_t>(rec->DataSamples, rec->DataBytes / fmt->nBlockAlign);
    while (rec->DataSamples > 0 && framesToBytes(rec, rec->DataSamples) > int64_t(rec->DataBytes))
        --rec->DataSamples;
    rec->Flags = WIOF_DISKFILE;
    rec->StartSample = 0;
    rec->EndSample = rec->DataSamples;
    rec->BytesLeft = 0;
    rec->SamplePos = 0;
    rec->Created = false;
    closeHandle(rec);
    return WIOERR_NOERROR;
}

// Writes the data chunk's and the RIFF chunk's sizes in place (bytes that already exist on
// disk, so this works on a full disk too) for data of DataBytes bytes and nothing after it.
bool patchSizesInPlace(WaveIORecord* rec) {
    HMMIO h = rec->Handle;
    char field[4];
    putLe32(field, rec->DataBytes);
    if (mmioSeek(h, int32_t(rec->DataOffset - 4), SEEK_SET) < 0 || mmioWrite(h, field, 4) != 4)
        return false;
    putLe32(field, uint32_t(rec->DataOffset + rec->DataBytes - rec->RiffChunk.dwDataOffset));
    if (mmioSeek(h, int32_t(rec->RiffChunk.dwDataOffset - 4), SEEK_SET) < 0 || mmioWrite(h, field, 4) != 4)
        return false;
    return mmioFlush(h) == MMSYSERR_NOERROR;
}

// After a failed write only what reached the disk counts as data.
void limitToDisk(WaveIORecord* rec) {
    MMIOINFO info;
    if (mmioGetInfo(rec->Handle, &info) != MMSYSERR_NOERROR)
        return;
    const int64_t onDisk = std::max<int64_t>(int64_t(info.lFileSize) - rec->DataOffset, 0);
    const uint32_t align = rec->Format()->nBlockAlign ? rec->Format()->nBlockAlign : 1;
    const uint32_t bytes = uint32_t(std::min<int64_t>(rec->DataBytes, (onDisk / align) * align));
    if (bytes < rec->DataBytes) {
        rec->DataBytes = bytes;
        rec->DataSamples = bytesToFrames(rec, bytes);
        rec->EndSample = rec->DataSamples;
    }
    rec->SamplePos = std::min(rec->SamplePos, rec->DataSamples);
    rec->BytesLeft = 0;
    mmioSeek(rec->Handle, int32_t(rec->DataOffset + rec->DataBytes), SEEK_SET);
}

// Appends a chunk of the given id holding bytes.
bool appendChunk(HMMIO h, FOURCC id, const std::string& bytes) {
    MMCKINFO ck{};
    ck.ckid = id;
    return mmioCreateChunk(h, &ck, 0) == MMSYSERR_NOERROR &&
           mmioWrite(h, bytes.data(), int32_t(bytes.size())) == int32_t(bytes.size()) &&
           mmioAscend(h, &ck) == MMSYSERR_NOERROR;
}

// Steps of finishing a written file after the data: data size, fact, DISP, LIST/INFO, RIFF size.
bool finish(WaveIORecord* rec) {
    HMMIO h = rec->Handle;
    if (mmioAscend(h, &rec->DataChunk) != MMSYSERR_NOERROR)
        return false;
    char fact[4];
    putLe32(fact, rec->DataSamples);
    if (!appendChunk(h, kFact, std::string(fact, 4)))
        return false;
    for (const auto& disp : rec->DispList) {
        if ((disp.Type != kDispText && disp.Type != kDispDIB) || disp.Data.empty())
            continue;
        char type[4];
        putLe32(type, disp.Type);
        std::string body(type, 4);
        body += disp.Data;
        if (disp.Type == kDispText)
            body.push_back('\0');
        if (!appendChunk(h, kDISP, body))
            return false;
    }
    const bool anyInfo = std::any_of(rec->InfoList.begin(), rec->InfoList.end(),
                                     [](const TWaveIOInfoEntry& e) { return !e.Text.empty(); });
    if (anyInfo) {
        MMCKINFO list{};
        list.fccType = kINFO;
        if (mmioCreateChunk(h, &list, MMIO_CREATELIST) != MMSYSERR_NOERROR)
            return false;
        for (const auto& entry : rec->InfoList) {
            if (entry.Text.empty())
                continue;
            std::string text = entry.Text;
            text.push_back('\0');
            if (!appendChunk(h, entry.Id, text))
                return false;
        }
        if (mmioAscend(h, &list) != MMSYSERR_NOERROR)
            return false;
    }
    if (mmioAscend(h, &rec->RiffChunk) != MMSYSERR_NOERROR)
        return false;
    if (mmioFlush(h) != MMSYSERR_NOERROR)
        return false;
    MMIOINFO info;
    if (mmioGetInfo(h, &info) != MMSYSERR_NOERROR)
        return false;
    rec->FileSize = uint32_t(info.lDiskOffset);
    return true;
}

}  // namespace

WaveIORecord::~WaveIORecord() {
    if (Handle)
        mmioClose(Handle);
}

void WaveIORecord::AllocFormat(uint32_t bytes) {
    bytes = std::max<uint32_t>(bytes, sizeof(WAVEFORMATEX) + 1);
    auto* p = static_cast<WAVEFORMATEX*>(std::calloc(1, bytes));
    if (!p)
        throw std::bad_alloc();
    format_.reset(p);
    formatBytes_ = bytes;
    Size = uint32_t(sizeof(WaveIORecord)) + bytes;
}

int32_t WaveIOOpen(const std::string& name, FOURCC formType, uint32_t flags, TWaveIORecordPtr& record) {
    record.reset();
    if (name.empty() || flags != WIOF_DISKFILE)
        return WIOERR_BADRECORD;
    auto rec = std::make_unique<WaveIORecord>();
    int32_t rc;
    try {
        rc = parse(rec.get(), name, formType);
    } catch (const std::bad_alloc&) {
        rc = WIOERR_NOMEM;  // a format or list body the memory cannot hold
    }
    if (rc != WIOERR_NOERROR)
        return rc;  // the record closes its file as it goes
    record = std::move(rec);
    return WIOERR_NOERROR;
}

bool IsWaveFile(const std::string& name) {
    TWaveIORecordPtr record;
    return WaveIOOpen(name, WAVE_FORMTYPE, WIOF_DISKFILE, record) == WIOERR_NOERROR;
}

TWaveIORecordPtr WaveIOCreateRecord(const WAVEFORMATEX* format) {
    if (!format)
        return nullptr;
    auto rec = std::make_unique<WaveIORecord>();
    const int32_t size = FormatSize(format);
    rec->AllocFormat(uint32_t(size) + 1);
    std::memcpy(rec->Format(), format, size_t(size));
    if (rec->Format()->wFormatTag == WAVE_FORMAT_PCM)
        rec->Format()->cbSize = 0;
    resetInfoList(rec.get());
    return rec;
}

int32_t WaveIOCreate(WaveIORecord* record, const std::string& name) {
    if (!record || name.empty() || !record->Format())
        return WIOERR_BADRECORD;
    closeHandle(record);
    HMMIO h = mmioOpen(name.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    if (!h)
        return WIOERR_FILEERROR;  // nothing was made, and a file of that name is not ours to delete

    MMCKINFO riff{};
    riff.fccType = WAVE_FORMTYPE;
    MMCKINFO fmt{};
    fmt.ckid = kFmt;
    const int32_t fmtSize =
        std::min<int32_t>(FormatSize(record->Format()), int32_t(record->FormatBytes()));
    fmt.cksize = uint32_t(fmtSize);
    MMCKINFO data{};
    data.ckid = kData;
    const bool ok = mmioCreateChunk(h, &riff, MMIO_CREATERIFF) == MMSYSERR_NOERROR &&
                    mmioCreateChunk(h, &fmt, 0) == MMSYSERR_NOERROR &&
                    mmioWrite(h, record->Format(), fmtSize) == fmtSize &&
                    mmioAscend(h, &fmt) == MMSYSERR_NOERROR &&
                    mmioCreateChunk(h, &data, 0) == MMSYSERR_NOERROR &&
                    mmioFlush(h) == MMSYSERR_NOERROR;
    if (!ok) {
        mmioClose(h);
        ::unlink(name.c_str());
        return WIOERR_FILEERROR;
    }
    data.dwFlags |= MMIO_DIRTY;
    record->Handle = h;
    record->RiffChunk = riff;
    record->DataChunk = data;
    record->DataOffset = data.dwDataOffset;
    record->FileName = name;
    record->DataSamples = bytesToFrames(record, record->DataBytes);
    record->StartSample = 0;
    record->EndSample = record->DataSamples;
    record->Created = true;
    return WIOERR_NOERROR;
}

int32_t WaveIOReopen(WaveIORecord* record) {
    if (!record)
        return WIOERR_BADRECORD;
    if (!record->Handle) {
        if (openRiff(record, record->FileName, WAVE_FORMTYPE) != WIOERR_NOERROR)
            return WIOERR_FILEERROR;
        // Opened again, the file is an existing one: writing into it must rewrite both sizes.
        record->Created = false;
    }
    if (WaveIOSeek(record, int32_t(record->SamplePos)) != WIOERR_NOERROR)
        return WIOERR_FILEERROR;
    return WIOERR_NOERROR;
}

int32_t WaveIOSetBuffer(WaveIORecord* record, int32_t size) {
    if (!record)
        return WIOERR_BADRECORD;
    if (record->Flags != WIOF_DISKFILE)
        return WIOERR_NOERROR;
    if (!record->Handle || size < 0)
        return WIOERR_NOFORMAT;
    return int32_t(mmioSetBuffer(record->Handle, nullptr, size));
}

int32_t WaveIOSeek(WaveIORecord* record, int32_t frame) {
    if (!record || frame < 0 || !record->Format())
        return WIOERR_FILEERROR;
    const int64_t range = int64_t(record->EndSample) - record->StartSample;
    // An empty range has no last frame; its only position is its start.
    frame = range > 0 ? int32_t(std::min<int64_t>(frame, range - 1)) : 0;
    if (!record->Handle) {
        const int64_t bytes = framesToBytes(record, int64_t(record->StartSample) + frame);
        record->SamplePos = bytesToFrames(record, bytes) - uint32_t(record->StartSample);
        return WIOERR_NOERROR;
    }
    HMMIO h = record->Handle;
    if (record->DataOffset < 8 ||
        mmioSeek(h, int32_t(record->DataOffset - 8), SEEK_SET) != int32_t(record->DataOffset - 8))
        return WIOERR_FILEERROR;
    MMCKINFO data{};
    if (mmioDescend(h, &data, nullptr, 0) != MMSYSERR_NOERROR || data.ckid != kData)
        return WIOERR_FILEERROR;
    // Keep the mark of a chunk being written: its size is still to be set on close.
    data.dwFlags = record->DataChunk.dwFlags & MMIO_DIRTY;
    record->DataChunk = data;
    const uint32_t align = record->Format()->nBlockAlign ? record->Format()->nBlockAlign : 1;
    int64_t bytes = framesToBytes(record, int64_t(record->StartSample) + frame);
    bytes = std::min<int64_t>(bytes, record->DataBytes);
    bytes = (bytes / align) * align;
    if (mmioSeek(h, int32_t(bytes), SEEK_CUR) < 0)
        return WIOERR_FILEERROR;
    record->BytesLeft = clampBytesLeft(framesToBytes(record, record->EndSample) - bytes);
    record->SamplePos = bytesToFrames(record, bytes) - uint32_t(record->StartSample);
    return WIOERR_NOERROR;
}

int32_t WaveIORead(WaveIORecord* record, void* buffer, int32_t count) {
    if (!record || !record->Handle || !record->Format() || count < 0 || (!buffer && count > 0))
        return -1;
    if (record->BytesLeft == 0)
        return -1;
    const int32_t n = std::min(count, record->BytesLeft);
    const int32_t got = mmioRead(record->Handle, buffer, n);
    if (got < 0)
        return -1;
    if (got < count)
        record->BytesLeft = 0;
    if (got == 0)
        return 0;
    record->BytesLeft = std::max(record->BytesLeft - got, 0);
    record->SamplePos = uint32_t(int64_t(record->EndSample) - record->StartSample -
                                 bytesToFrames(record, record->BytesLeft));
    return got;
}

int32_t WaveIOWrite(WaveIORecord* record, const void* buffer, int32_t count) {
    if (!record || !record->Handle || !record->Format() || count <= 0 || !buffer)
        return -1;
    const int32_t written = mmioWrite(record->Handle, buffer, count);
    if (written < 0) {
        limitToDisk(record);
        return -1;
    }
    if (written == 0)
        return 0;
    record->DataChunk.dwFlags |= MMIO_DIRTY;
    const int64_t bytes = int64_t(currentPos(record->Handle)) - record->DataOffset;
    record->SamplePos = bytesToFrames(record, bytes);
    record->DataBytes = uint32_t(std::max<int64_t>(record->DataBytes, bytes));
    if (record->SamplePos > record->DataSamples) {
        record->DataSamples = record->SamplePos;
        record->EndSample = record->SamplePos;
    }
    record->BytesLeft = clampBytesLeft(framesToBytes(record, int64_t(record->EndSample) - record->SamplePos));
    return written;
}

int32_t WaveIOClose(WaveIORecord* record) {
    if (!record || !record->Handle)
        return WIOERR_NOERROR;
    int32_t result = WIOERR_NOERROR;
    const bool written = (record->DataChunk.dwFlags & MMIO_DIRTY) != 0;
    if (written) {
        HMMIO h = record->Handle;
        MMIOINFO info;
        if (mmioGetInfo(h, &info) != MMSYSERR_NOERROR || mmioFlush(h) != MMSYSERR_NOERROR) {
            limitToDisk(record);
            result = WIOERR_FILEERROR;
        }
        if (!record->Created) {
            // Written into an existing file: both sizes are recomputed from the positions.
            record->DataChunk.cksize = 0;
            record->RiffChunk.cksize = 0;
            record->RiffChunk.dwFlags |= MMIO_DIRTY;
        }
        // The chunk ends where the data ends, wherever the last seek left the position.
        if (mmioSeek(h, int32_t(record->DataOffset + record->DataBytes), SEEK_SET) < 0 ||
            !finish(record)) {
            // The trailing chunks need room the disk may not have; the two sizes only
            // overwrite bytes that exist, so the file still ends up a valid wave of the
            // data that reached the disk.
            limitToDisk(record);
            patchSizesInPlace(record);
            record->FileSize = record->DataOffset + record->DataBytes;
            result = WIOERR_FILEERROR;
        }
        record->EndSample = record->DataSamples;
        record->DataChunk.dwFlags &= ~MMIO_DIRTY;
        record->RiffChunk.dwFlags &= ~MMIO_DIRTY;
    }
    if (mmioClose(record->Handle) != MMSYSERR_NOERROR && written)
        result = WIOERR_FILEERROR;
    record->Handle = nullptr;
    record->BytesLeft = 0;
    record->SamplePos = 0;
    return result;
}

int32_t WaveIOFree(TWaveIORecordPtr& record) {
    if (!record)
        return WIOERR_BADRECORD;
    closeHandle(record.get());
    record.reset();
    return WIOERR_NOERROR;
}
