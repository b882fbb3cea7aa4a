// Buffered file I/O with RIFF chunk navigation, with the operations and results of the
// platform's multimedia file service (the mmio calls), over POSIX file I/O.
//
// The buffer is one window of the file. It is tuned for the two ways the editor reads a
// wave file: long sequential reads (a read at least half the buffer size goes straight into
// the caller's memory, without a copy through the buffer) and one seek plus a read of a few
// bytes per pixel column (a seek only moves the position; a read inside the window touches
// no disk; a read outside it that does not continue the previous one fills one aligned
// 4096-byte block, not the whole buffer).
//
// Writes are buffered too. A failed write (full disk, I/O error) is never silent: the call
// that hits it fails (mmioWrite returns -1; mmioRead, mmioFlush, mmioSetBuffer, mmioAscend
// and mmioClose return their errors), the buffered bytes it could not write are dropped,
// and reads from then on show what the disk really holds. mmioGetInfo tells whether any
// write failed since the file was opened.
//
// Positions are file offsets of 32 bits, as in RIFF. A handle is used by one thread at a time.
#pragma once

#include "platform/MMSystem.h"

#include <cstdint>
#include <string>

struct MMIOFile;
using HMMIO = MMIOFile*;

// Chunk descriptor.
struct MMCKINFO {
    FOURCC ckid = 0;           // chunk id
    uint32_t cksize = 0;       // size of the chunk's data (the form type of RIFF/LIST included)
    FOURCC fccType = 0;        // form type of RIFF or list type of LIST
    uint32_t dwDataOffset = 0; // file offset of the chunk's data (just after the size field)
    uint32_t dwFlags = 0;      // MMIO_DIRTY: the size must be rewritten on ascend
};
using LPMMCKINFO = MMCKINFO*;

// State of an open file as mmioGetInfo reports it, and error return of mmioOpen.
struct MMIOINFO {
    uint32_t dwFlags = 0;     // open flags and MMIO_DIRTY when the buffer holds unwritten bytes
    uint32_t wErrorRet = 0;   // mmioOpen: the MMIOERR_ code of a failure
    int32_t cchBuffer = 0;    // size of the I/O buffer (0: unbuffered)
    const char* pchBuffer = nullptr;  // the buffer (read only for callers)
    int32_t lBufOffset = 0;   // file offset of the buffer's first byte
    int32_t lDiskOffset = 0;  // current file position
    int32_t lFileSize = 0;    // length of the file including bytes still in the buffer
};
using LPMMIOINFO = MMIOINFO*;

// mmioOpen flags.
constexpr uint32_t MMIO_READ = 0x00000000;
constexpr uint32_t MMIO_WRITE = 0x00000001;
constexpr uint32_t MMIO_READWRITE = 0x00000002;
constexpr uint32_t MMIO_CREATE = 0x00001000;
constexpr uint32_t MMIO_PARSE = 0x00000100;
constexpr uint32_t MMIO_DELETE = 0x00000200;
constexpr uint32_t MMIO_EXIST = 0x00004000;
constexpr uint32_t MMIO_ALLOCBUF = 0x00010000;
constexpr uint32_t MMIO_DIRTY = 0x10000000;
// mmioDescend / mmioCreateChunk flags.
constexpr uint32_t MMIO_FINDCHUNK = 0x0010;
constexpr uint32_t MMIO_FINDRIFF = 0x0020;
constexpr uint32_t MMIO_FINDLIST = 0x0040;
constexpr uint32_t MMIO_CREATERIFF = 0x0020;
constexpr uint32_t MMIO_CREATELIST = 0x0040;
// mmioStringToFOURCC flag.
constexpr uint32_t MMIO_TOUPPER = 0x0010;

// Size of the buffer MMIO_ALLOCBUF allocates; room a name needs for MMIO_PARSE.
constexpr int32_t MMIO_DEFAULTBUFFER = 8192;
// (the platform's 260 would not hold every Linux path)
constexpr int32_t MMIO_MAXPATH = 4095;

// Results.
constexpr MMRESULT MMIOERR_BASE = 256;
constexpr MMRESULT MMIOERR_FILENOTFOUND = MMIOERR_BASE + 1;
constexpr MMRESULT MMIOERR_OUTOFMEMORY = MMIOERR_BASE + 2;
constexpr MMRESULT MMIOERR_CANNOTOPEN = MMIOERR_BASE + 3;
constexpr MMRESULT MMIOERR_CANNOTCLOSE = MMIOERR_BASE + 4;
constexpr MMRESULT MMIOERR_CANNOTREAD = MMIOERR_BASE + 5;
constexpr MMRESULT MMIOERR_CANNOTWRITE = MMIOERR_BASE + 6;
constexpr MMRESULT MMIOERR_CANNOTSEEK = MMIOERR_BASE + 7;
constexpr MMRESULT MMIOERR_CANNOTEXPAND = MMIOERR_BASE + 8;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = MMIOERR_BASE + 9;
constexpr MMRESULT MMIOERR_UNBUFFERED = MMIOERR_BASE + 10;
constexpr MMRESULT MMIOERR_ACCESSDENIED = MMIOERR_BASE + 12;
constexpr MMRESULT MMIOERR_INVALIDFILE = MMIOERR_BASE + 16;

// The text of a result of the calls below (0 and the MMSYSERR_ codes they return included);
// "Unknown file I/O error <code>" for any other.
std::string MMIOErrorText(MMRESULT code);

// The non-null value mmioOpen returns for a successful MMIO_PARSE, MMIO_EXIST or MMIO_DELETE.
// It is no handle: never pass it to another call.
HMMIO mmioSuccess();

// Opens, creates, tests, deletes or parses the named file.
// - MMIO_READ, MMIO_WRITE or MMIO_READWRITE, optionally with MMIO_CREATE (create or truncate)
//   and MMIO_ALLOCBUF (buffer of MMIO_DEFAULTBUFFER bytes; without it the file is
//   unbuffered until mmioSetBuffer): returns a handle to pair with mmioClose, or null.
// - MMIO_EXIST: mmioSuccess() when a regular file of that name exists, else null. Nothing
//   is opened.
// - MMIO_DELETE: deletes the file; mmioSuccess() or null.
// - MMIO_PARSE: replaces name (a buffer of at least MMIO_MAXPATH + 1 bytes) by the absolute,
//   normalised path; mmioSuccess(), or null when the result does not fit.
// On failure info->wErrorRet (when info is given) holds the MMIOERR_ code.
HMMIO mmioOpen(char* name, MMIOINFO* info, uint32_t flags);
// The same for a name that is only read (every flag but MMIO_PARSE).
HMMIO mmioOpen(const char* name, MMIOINFO* info, uint32_t flags);

// Writes what the buffer still holds and closes the file; the handle is gone in every case.
// Returns 0, or MMIOERR_CANNOTWRITE when buffered bytes could not be written (or an earlier
// write had failed), MMIOERR_CANNOTCLOSE when the system's close failed.
MMRESULT mmioClose(HMMIO h, uint32_t flags = 0);

// Reads up to count bytes at the current position. Returns the bytes read (fewer at the end
// of the file, 0 there), -1 on an error or a null handle.
int32_t mmioRead(HMMIO h, void* buffer, int32_t count);

// Writes count bytes at the current position, extending the file as needed. Returns count,
// or -1 when the bytes (or bytes buffered earlier that had to go to disk first) could not
// be written; the position is then unchanged.
int32_t mmioWrite(HMMIO h, const void* buffer, int32_t count);

// Moves the current position (origin SEEK_SET, SEEK_CUR or SEEK_END) and returns the new
// position, or -1 when it would be negative or beyond 32 bits. Touches no disk; positions
// beyond the end of the file are allowed (a write there extends the file).
int32_t mmioSeek(HMMIO h, int32_t offset, int origin);

// Writes the buffered bytes to the file. Returns 0 or MMIOERR_CANNOTWRITE.
MMRESULT mmioFlush(HMMIO h, uint32_t flags = 0);

// Replaces the I/O buffer (buffered bytes are written first). buffer null: a buffer of size
// bytes allocated and owned by the handle (size 0: unbuffered); otherwise the caller's
// memory, which must outlive its use by the handle. Returns 0, MMIOERR_CANNOTWRITE when the
// old buffer could not be written (the old buffer stays), MMIOERR_OUTOFMEMORY, or
// MMSYSERR_INVALPARAM for a negative size or a null handle.
MMRESULT mmioSetBuffer(HMMIO h, char* buffer, int32_t size, uint32_t flags = 0);

// Reports the state of the file (wErrorRet MMIOERR_CANNOTWRITE once any write failed).
// Returns 0, or MMSYSERR_INVALHANDLE.
MMRESULT mmioGetInfo(HMMIO h, MMIOINFO* info, uint32_t flags = 0);

// Reads the header of a chunk and positions at its data (after the form or list type of a
// RIFF or LIST chunk). flags 0: the chunk at the current position; MMIO_FINDCHUNK: the next
// chunk with id ck->ckid; MMIO_FINDRIFF / MMIO_FINDLIST: the next RIFF / LIST chunk with
// form or list type ck->fccType. With parent, the search stays inside the parent's data.
// Fills ck (flags cleared) and returns 0, or MMIOERR_CHUNKNOTFOUND (position undefined).
MMRESULT mmioDescend(HMMIO h, MMCKINFO* ck, const MMCKINFO* parent, uint32_t flags);

// Leaves a chunk and positions after it (and after its pad byte when its size is odd).
// A chunk marked MMIO_DIRTY gets its size rewritten as the current position minus
// dwDataOffset, and a zero pad byte when that size is odd; the dirty flag is then cleared.
// Returns 0, MMIOERR_CANNOTWRITE, or MMIOERR_CANNOTSEEK.
MMRESULT mmioAscend(HMMIO h, MMCKINFO* ck, uint32_t flags = 0);

// Writes a chunk header at the current position: ck->ckid (RIFF or LIST with
// MMIO_CREATERIFF / MMIO_CREATELIST) and ck->cksize, then ck->fccType for RIFF and LIST.
// Sets ck->dwDataOffset and marks ck MMIO_DIRTY. Returns 0 or MMIOERR_CANNOTWRITE.
MMRESULT mmioCreateChunk(HMMIO h, MMCKINFO* ck, uint32_t flags);

// The four-character code of the first four characters of text (padded with spaces),
// upper-cased with MMIO_TOUPPER.
FOURCC mmioStringToFOURCC(const char* text, uint32_t flags = 0);
