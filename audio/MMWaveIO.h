// RIFF WAVE files at the level of chunks and raw sample bytes: one WaveIORecord per file and
// plain functions that parse a file, position inside its data chunk, move raw sample bytes
// and patch the chunk sizes when a written file is finished. All file access goes through
// the buffered I/O of platform/MMIO.h.
//
// A "sample" is one frame (one block of the format). The functions never throw for I/O
// problems; they return the result codes below (reads and writes: byte counts, -1, 0).
// Out of memory throws std::bad_alloc. A record is used by one thread at a time.
#pragma once

#include "audio/MMUtils.h"
#include "platform/MMIO.h"
#include "platform/MMSystem.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Result codes.
constexpr int32_t WIOERR_NOERROR = 0;
constexpr int32_t WIOERR_NOFORMAT = 101;   // no `fmt ` chunk; or a buffer asked for a record without an open file
constexpr int32_t WIOERR_BADRECORD = 104;  // record or argument missing
constexpr int32_t WIOERR_FILEERROR = 106;  // open, seek, read, write or chunk navigation failed; unusable format
constexpr int32_t WIOERR_NOMEM = 107;      // out of memory

// The text of a result code (0 included); "Unknown wave I/O error <code>" for any other.
std::string WaveIOErrorText(int32_t code);

// Record flags: the file is a disk file reached through platform/MMIO (the only mode used).
constexpr uint32_t WIOF_DISKFILE = 1;

// The form type of a wave file.
constexpr FOURCC WAVE_FORMTYPE = mmioFOURCC('W', 'A', 'V', 'E');

// The 23 INFO fields kept from a file's LIST/INFO chunk, in this order.
constexpr int WIO_INFOCOUNT = 23;
extern const std::array<FOURCC, WIO_INFOCOUNT> WaveIOInfoIds;  // IARL IART ... ITCH

struct TWaveIOInfoEntry {
    FOURCC Id = 0;
    bool Present = false;  // the file had the field
    std::string Text;      // its text up to the first zero byte
};

// One DISP chunk: its 4-byte type and the rest of its body. For type 1 (text) Data holds the
// text without its terminating zero; for other types the bytes as found.
struct TWaveIODispEntry {
    uint32_t Type = 0;
    std::string Data;
};

struct WaveIORecord {
    WaveIORecord() = default;
    // Closes the file if it is still open (without finishing a written file: WaveIOClose does that).
    ~WaveIORecord();
    WaveIORecord(const WaveIORecord&) = delete;
    WaveIORecord& operator=(const WaveIORecord&) = delete;

    uint32_t Size = 0;              // bytes of the record and its format
    uint32_t Flags = WIOF_DISKFILE;
    HMMIO Handle = nullptr;         // open file, or null
    MMCKINFO RiffChunk{};
    MMCKINFO DataChunk{};
    void* ResourceHandle = nullptr; // reserved, always null
    uint32_t FileSize = 0;          // file length when parsed or finished
    uint32_t DataBytes = 0;
    uint32_t DataOffset = 0;        // file offset of the first data byte
    uint32_t DataSamples = 0;
    int32_t StartSample = 0;        // first frame of the record's range (always 0 here)
    uint32_t EndSample = 0;         // end frame of the range
    int32_t BytesLeft = 0;          // readable bytes from the position up to EndSample
    uint32_t SamplePos = 0;         // current frame, relative to StartSample
    std::string FileName;
    std::vector<TWaveIODispEntry> DispList;
    std::array<TWaveIOInfoEntry, WIO_INFOCOUNT> InfoList{};
    double ByteRate = 0.0;          // fractional byte rate; always 0 here
    bool Created = false;           // the file was made by WaveIOCreate on this record

    // The `fmt ` chunk: at least 18 bytes (plus one spare) even when the chunk is shorter.
    WAVEFORMATEX* Format() { return format_.get(); }
    const WAVEFORMATEX* Format() const { return format_.get(); }
    // Bytes reserved for the format.
    uint32_t FormatBytes() const { return formatBytes_; }
    // Replaces the format by a zero-filled block of bytes bytes (at least 19).
    void AllocFormat(uint32_t bytes);

private:
    TMMWaveFormatPtr format_;
    uint32_t formatBytes_ = 0;
};

using TWaveIORecordPtr = std::unique_ptr<WaveIORecord>;

// Parses a wave file (flags WIOF_DISKFILE) whose RIFF form type is formType. On 0 record
// holds a new record: format, sizes, data offset, frame count, the INFO texts and DISP
// chunks; the file is closed again. On failure record is null and the result is 101 (no
// `fmt `), 104 (no name), 106 (cannot open, not RIFF/formType, unreadable chunk, block
// alignment 0) or 107.
int32_t WaveIOOpen(const std::string& name, FOURCC formType, uint32_t flags, TWaveIORecordPtr& record);

// True when name parses as a wave file.
bool IsWaveFile(const std::string& name);

// A new record for writing whose format is a copy of format (18 bytes for PCM, else 18 plus
// the extra bytes), with empty INFO and DISP lists. Null for a null format.
TWaveIORecordPtr WaveIOCreateRecord(const WAVEFORMATEX* format);

// Creates the file name: RIFF/WAVE, a `fmt ` chunk of the record's format, and an empty
// `data` chunk, leaving the file open and positioned for WaveIOWrite. Returns 0, 104 (no
// record or name) or 106; a failure closes and deletes the half-made file.
int32_t WaveIOCreate(WaveIORecord* record, const std::string& name);

// Opens the record's file again if it is closed and seeks to SamplePos. Returns 0, 104 or 106.
int32_t WaveIOReopen(WaveIORecord* record);

// Gives the open file an I/O buffer of size bytes. Returns 0, 104 (no record), 101 (no open
// file, negative size) or the I/O service's error.
int32_t WaveIOSetBuffer(WaveIORecord* record, int32_t size);

// Positions at frame (clamped into the record's range, the last frame the highest). Without
// an open file only SamplePos changes. Returns 0, or 106 (no record, a negative frame, a
// failed seek).
int32_t WaveIOSeek(WaveIORecord* record, int32_t frame);

// Reads up to count raw data bytes at the position, never past EndSample. Returns the bytes
// read, 0 when the read returned nothing, -1 without a record or open file, at the end of
// the range, or on a read error.
int32_t WaveIORead(WaveIORecord* record, void* buffer, int32_t count);

// Writes count raw data bytes at the position, growing DataBytes, DataSamples and
// EndSample. Returns count, 0 when nothing was written, -1 without a record, open file or
// bytes, or when the write failed (full disk); after a failure DataBytes and DataSamples
// count only the data that reached the disk, and the position is at its end.
int32_t WaveIOWrite(WaveIORecord* record, const void* buffer, int32_t count);

// Closes the file. A written file is finished first: data chunk size (and pad byte),
// `fact`, the DISP chunks, LIST/INFO, RIFF size. Returns 0, or 106 when finishing failed:
// then the data and RIFF sizes are still written in place for the data on disk (so a full
// disk leaves a valid wave file without the trailing chunks), and the file is closed
// anyway. Without a record or open file: 0.
int32_t WaveIOClose(WaveIORecord* record);

// Closes the file if open (without finishing) and releases the record; record becomes null.
// Returns 0, or 104 for a null record.
int32_t WaveIOFree(TWaveIORecordPtr& record);
