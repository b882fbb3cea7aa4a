#include "platform/MMIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr int64_t kBlock = 4096;  // unit of a fill that does not continue the previous read
constexpr int64_t kMaxPos = std::numeric_limits<int32_t>::max();
constexpr FOURCC kRIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC kLIST = mmioFOURCC('L', 'I', 'S', 'T');

ssize_t preadAll(int fd, char* p, int64_t n, int64_t off) {
    int64_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, p + done, size_t(n - done), off + done);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? ssize_t(done) : -1;
        }
        if (r == 0)
            break;
        done += r;
    }
    return ssize_t(done);
}

bool pwriteAll(int fd, const char* p, int64_t n, int64_t off) {
    int64_t done = 0;
    while (done < n) {
        const ssize_t r = ::pwrite(fd, p + done, size_t(n - done), off + done);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (r == 0) {
            errno = ENOSPC;
            return false;
        }
        done += r;
    }
    return true;
}

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void putLe32(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

MMRESULT errnoToResult(int e) {
    switch (e) {
    case ENOENT:
    case ENOTDIR: return MMIOERR_FILENOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS: return MMIOERR_ACCESSDENIED;
    case ENOMEM: return MMIOERR_OUTOFMEMORY;
    default: return MMIOERR_CANNOTOPEN;
    }
}

}  // namespace

// The buffer holds the file's bytes [bufStart, bufStart + valid), all current (read from
// disk or written by the caller); [dirtyLo, dirtyHi) of them are not on disk yet.
struct MMIOFile {
    int fd = -1;
    uint32_t openFlags = 0;
    std::unique_ptr<char[]> owned;
    char* buf = nullptr;
    int64_t cap = 0;
    int64_t bufStart = 0;
    int64_t valid = 0;
    int64_t dirtyLo = 0;
    int64_t dirtyHi = 0;
    int64_t pos = 0;
    int64_t lastReadEnd = -1;
    bool writeFailed = false;  // some write failed since the file was opened

    bool dirty() const { return dirtyHi > dirtyLo; }
    bool canRead() const { return (openFlags & 3) != MMIO_WRITE; }
    bool canWrite() const { return (openFlags & 3) != MMIO_READ; }

    // Writes the dirty bytes. When that fails they are dropped (the caller that triggered
    // the flush reports the failure) and the window is emptied, so that reads show what
    // the disk really holds.
    bool flush() {
        if (!dirty())
            return true;
        const bool ok = pwriteAll(fd, buf + (dirtyLo - bufStart), dirtyHi - dirtyLo, dirtyLo);
        dirtyLo = dirtyHi = 0;
        if (!ok) {
            valid = 0;
            writeFailed = true;
        }
        return ok;
    }

    // Loads a window that holds pos (and pos + n when it fits). A read that continues the
    // previous read or the window fills the whole buffer; any other fills only the aligned
    // 4096-byte block(s) it needs, so a seek plus a few bytes costs one small read.
    bool fill(int64_t at, int64_t n) {
        if (!flush())
            return false;
        int64_t start = at, len = cap;
        const bool continues = at == lastReadEnd || (valid > 0 && at == bufStart + valid);
        if (!continues) {
            start = at - at % kBlock;
            const int64_t end = ((at + n + kBlock - 1) / kBlock) * kBlock;
            len = std::min(end - start, cap);
            if (at + n > start + len) {
                start = at;
                len = cap;
            }
        }
        valid = 0;
        bufStart = start;
        const ssize_t r = preadAll(fd, buf, len, start);
        if (r < 0)
            return false;
        valid = r;
        return true;
    }

    int64_t sizeNow() const {
        struct stat st {};
        int64_t size = 0;
        if (::fstat(fd, &st) == 0)
            size = st.st_size;
        if (dirty())
            size = std::max(size, dirtyHi);
        return size;
    }

    int32_t read(char* p, int64_t n) {
        if (!canRead())
            return -1;
        int64_t total = 0;
        while (n > 0) {
            if (pos >= bufStart && pos < bufStart + valid) {
                const int64_t k = std::min(n, bufStart + valid - pos);
                std::memcpy(p + total, buf + (pos - bufStart), size_t(k));
                pos += k;
                total += k;
                n -= k;
                continue;
            }
            if (cap == 0 || n >= cap / 2) {
                // Long reads go straight into the caller's memory; the disk must hold what
                // the buffer has not written yet.
                if (!flush()) {
                    if (total == 0)
                        return -1;
                    break;
                }
                const ssize_t r = preadAll(fd, p + total, n, pos);
                if (r < 0) {
                    if (total == 0)
                        return -1;
                    break;
                }
                pos += r;
                total += r;
                break;
            }
            if (!fill(pos, n)) {
                if (total == 0)
                    return -1;
                break;
            }
            if (!(pos >= bufStart && pos < bufStart + valid))
                break;  // end of file
        }
        lastReadEnd = pos;
        return int32_t(total);
    }

    int32_t write(const char* p, int64_t n) {
        if (!canWrite())
            return -1;
        const int64_t count = n;
        const int64_t startPos = pos;
        auto failed = [this, startPos] {
            pos = startPos;
            return -1;
        };
        while (n > 0) {
            const bool inWindow = pos >= bufStart && pos <= bufStart + valid && pos - bufStart < cap;
            if (!inWindow && (cap == 0 || n >= cap)) {
                if (!flush())
                    return failed();
                if (pos < bufStart + valid && pos + n > bufStart)
                    valid = 0;  // the window would go stale
                if (!pwriteAll(fd, p, n, pos)) {
                    writeFailed = true;
                    valid = 0;
                    return failed();
                }
                pos += n;
                break;
            }
            if (!inWindow) {
                if (!flush())
                    return failed();
                bufStart = pos;
                valid = 0;
                continue;
            }
            const int64_t k = std::min(n, cap - (pos - bufStart));
            std::memcpy(buf + (pos - bufStart), p, size_t(k));
            if (dirty()) {
                dirtyLo = std::min(dirtyLo, pos);
                dirtyHi = std::max(dirtyHi, pos + k);
            } else {
                dirtyLo = pos;
                dirtyHi = pos + k;
            }
            pos += k;
            valid = std::max(valid, pos - bufStart);
            p += k;
            n -= k;
        }
        return int32_t(count);
    }

    bool readExact(void* p, int64_t n) { return read(static_cast<char*>(p), n) == n; }
    bool writeExact(const void* p, int64_t n) { return write(static_cast<const char*>(p), n) == n; }
};

std::string MMIOErrorText(MMRESULT code) {
    switch (code) {
    case MMSYSERR_NOERROR: return "No error";
    case MMSYSERR_INVALHANDLE: return "Invalid file handle";
    case MMSYSERR_INVALPARAM: return "Invalid parameter";
    case MMIOERR_FILENOTFOUND: return "File not found";
    case MMIOERR_OUTOFMEMORY: return "Out of memory";
    case MMIOERR_CANNOTOPEN: return "Cannot open the file";
    case MMIOERR_CANNOTCLOSE: return "Cannot close the file";
    case MMIOERR_CANNOTREAD: return "Cannot read from the file";
    case MMIOERR_CANNOTWRITE: return "Cannot write to the file";
    case MMIOERR_CANNOTSEEK: return "Cannot seek in the file";
    case MMIOERR_CANNOTEXPAND: return "Cannot expand the file";
    case MMIOERR_CHUNKNOTFOUND: return "Chunk not found";
    case MMIOERR_UNBUFFERED: return "The file is not buffered";
    case MMIOERR_ACCESSDENIED: return "Access denied";
    case MMIOERR_INVALIDFILE: return "Not a regular file";
    default: return "Unknown file I/O error " + std::to_string(code);
    }
}

HMMIO mmioSuccess() {
    static MMIOFile marker;
    return &marker;
}

HMMIO mmioOpen(const char* name, MMIOINFO* info, uint32_t flags) {
    auto fail = [info](MMRESULT code) -> HMMIO {
        if (info)
            info->wErrorRet = code;
        return nullptr;
    };
    if (info)
        info->wErrorRet = 0;
    if (!name || !*name)
        return fail(MMIOERR_FILENOTFOUND);
    if (flags & MMIO_PARSE)
        return fail(MMSYSERR_INVALPARAM);  // needs a writable name: the char* form
    if (flags & MMIO_EXIST) {
        struct stat st {};
        return ::stat(name, &st) == 0 && S_ISREG(st.st_mode) ? mmioSuccess() : fail(MMIOERR_FILENOTFOUND);
    }
    if (flags & MMIO_DELETE)
        return ::unlink(name) == 0 ? mmioSuccess() : fail(errnoToResult(errno));

    int mode = O_RDONLY;
    if ((flags & 3) == MMIO_WRITE)
        mode = O_WRONLY;
    else if ((flags & 3) == MMIO_READWRITE)
        mode = O_RDWR;
    if (flags & MMIO_CREATE) {
        mode |= O_CREAT | O_TRUNC;
        if ((flags & 3) == MMIO_READ)
            mode = (mode & ~O_ACCMODE) | O_RDWR;
    }
    const int fd = ::open(name, mode | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(errnoToResult(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(MMIOERR_INVALIDFILE);
    }
    auto file = std::unique_ptr<MMIOFile>(new (std::nothrow) MMIOFile);
    if (!file) {
        ::close(fd);
        return fail(MMIOERR_OUTOFMEMORY);
    }
    file->fd = fd;
    file->openFlags = flags;
    if ((flags & MMIO_CREATE) && (flags & 3) == MMIO_READ)
        file->openFlags = (flags & ~3u) | MMIO_READWRITE;
    if (flags & MMIO_ALLOCBUF) {
        file->owned.reset(new (std::nothrow) char[MMIO_DEFAULTBUFFER]);
        if (!file->owned) {
            ::close(fd);
            return fail(MMIOERR_OUTOFMEMORY);
        }
        file->buf = file->owned.get();
        file->cap = MMIO_DEFAULTBUFFER;
    }
    return file.release();
}

HMMIO mmioOpen(char* name, MMIOINFO* info, uint32_t flags) {
    if (!(flags & MMIO_PARSE))
        return mmioOpen(static_cast<const char*>(name), info, flags);
    if (info)
        info->wErrorRet = 0;
    if (!name || !*name) {
        if (info)
            info->wErrorRet = MMIOERR_FILENOTFOUND;
        return nullptr;
    }
    std::error_code ec;
    const std::string full = std::filesystem::absolute(name, ec).lexically_normal().string();
    if (ec || full.size() > size_t(MMIO_MAXPATH)) {
        if (info)
            info->wErrorRet = MMIOERR_CANNOTOPEN;
        return nullptr;
    }
    std::memcpy(name, full.c_str(), full.size() + 1);
    return mmioSuccess();
}

MMRESULT mmioClose(HMMIO h, uint32_t) {
    if (!h || h == mmioSuccess())
        return MMSYSERR_INVALHANDLE;
    std::unique_ptr<MMIOFile> file(h);
    const bool written = file->flush();
    const bool closed = ::close(file->fd) == 0;
    if (!written)
        return MMIOERR_CANNOTWRITE;
    return closed ? MMSYSERR_NOERROR : MMIOERR_CANNOTCLOSE;
}

int32_t mmioRead(HMMIO h, void* buffer, int32_t count) {
    if (!h || h == mmioSuccess() || count < 0 || (!buffer && count > 0))
        return -1;
    return h->read(static_cast<char*>(buffer), count);
}

int32_t mmioWrite(HMMIO h, const void* buffer, int32_t count) {
    if (!h || h == mmioSuccess() || count < 0 || (!buffer && count > 0))
        return -1;
    if (h->pos + count > kMaxPos)
        return -1;
    return h->write(static_cast<const char*>(buffer), count);
}

int32_t mmioSeek(HMMIO h, int32_t offset, int origin) {
    if (!h || h == mmioSuccess())
        return -1;
    int64_t base = 0;
    switch (origin) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = h->pos; break;
    case SEEK_END: base = h->sizeNow(); break;
    default: return -1;
    }
    const int64_t target = base + offset;
    if (target < 0 || target > kMaxPos)
        return -1;
    h->pos = target;
    return int32_t(target);
}

MMRESULT mmioFlush(HMMIO h, uint32_t) {
    if (!h || h == mmioSuccess())
        return MMSYSERR_INVALHANDLE;
    return h->flush() ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

MMRESULT mmioSetBuffer(HMMIO h, char* buffer, int32_t size, uint32_t) {
    if (!h || h == mmioSuccess() || size < 0)
        return MMSYSERR_INVALPARAM;
    if (!h->flush())
        return MMIOERR_CANNOTWRITE;
    std::unique_ptr<char[]> owned;
    if (!buffer && size > 0) {
        owned.reset(new (std::nothrow) char[size_t(size)]);
        if (!owned)
            return MMIOERR_OUTOFMEMORY;
        buffer = owned.get();
    }
    h->owned = std::move(owned);
    h->buf = size > 0 ? buffer : nullptr;
    h->cap = size > 0 ? size : 0;
    h->bufStart = h->pos;
    h->valid = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT mmioGetInfo(HMMIO h, MMIOINFO* info, uint32_t) {
    if (!h || h == mmioSuccess() || !info)
        return MMSYSERR_INVALHANDLE;
    info->dwFlags = h->openFlags | (h->dirty() ? MMIO_DIRTY : 0);
    info->wErrorRet = h->writeFailed ? MMIOERR_CANNOTWRITE : 0;
    info->cchBuffer = int32_t(h->cap);
    info->pchBuffer = h->buf;
    info->lBufOffset = int32_t(std::min(h->bufStart, kMaxPos));
    info->lDiskOffset = int32_t(h->pos);
    info->lFileSize = int32_t(std::min(h->sizeNow(), kMaxPos));
    return MMSYSERR_NOERROR;
}

MMRESULT mmioDescend(HMMIO h, MMCKINFO* ck, const MMCKINFO* parent, uint32_t flags) {
    if (!h || h == mmioSuccess() || !ck)
        return MMSYSERR_INVALPARAM;
    const FOURCC wantId = ck->ckid;
    const FOURCC wantType = ck->fccType;
    const int64_t parentEnd =
        parent ? int64_t(parent->dwDataOffset) + int64_t(parent->cksize) : std::numeric_limits<int64_t>::max();
    for (;;) {
        if (h->pos + 8 > parentEnd)
            return MMIOERR_CHUNKNOTFOUND;
        unsigned char header[8];
        if (!h->readExact(header, 8))
            return MMIOERR_CHUNKNOTFOUND;
        MMCKINFO found;
        found.ckid = le32(header);
        found.cksize = le32(header + 4);
        found.dwDataOffset = uint32_t(h->pos);
        if (found.ckid == kRIFF || found.ckid == kLIST) {
            unsigned char type[4];
            if (!h->readExact(type, 4))
                return MMIOERR_CHUNKNOTFOUND;
            found.fccType = le32(type);
        }
        bool match = true;
        if (flags & MMIO_FINDCHUNK)
            match = found.ckid == wantId;
        else if (flags & MMIO_FINDRIFF)
            match = found.ckid == kRIFF && found.fccType == wantType;
        else if (flags & MMIO_FINDLIST)
            match = found.ckid == kLIST && found.fccType == wantType;
        if (match) {
            *ck = found;
            return MMSYSERR_NOERROR;
        }
        const int64_t next = int64_t(found.dwDataOffset) + found.cksize + (found.cksize & 1);
        if (next > kMaxPos)
            return MMIOERR_CHUNKNOTFOUND;
        h->pos = next;
    }
}

MMRESULT mmioAscend(HMMIO h, MMCKINFO* ck, uint32_t) {
    if (!h || h == mmioSuccess() || !ck)
        return MMSYSERR_INVALPARAM;
    if (ck->dwFlags & MMIO_DIRTY) {
        const int64_t size = h->pos - int64_t(ck->dwDataOffset);
        if (size < 0 || ck->dwDataOffset < 4)
            return MMIOERR_CANNOTSEEK;
        unsigned char field[4];
        putLe32(field, uint32_t(size));
        h->pos = ck->dwDataOffset - 4;
        if (!h->writeExact(field, 4))
            return MMIOERR_CANNOTWRITE;
        if (size & 1) {
            const char pad = 0;
            h->pos = ck->dwDataOffset + size;
            if (!h->writeExact(&pad, 1))
                return MMIOERR_CANNOTWRITE;
        }
        ck->cksize = uint32_t(size);
        ck->dwFlags &= ~MMIO_DIRTY;
    }
    const int64_t end = int64_t(ck->dwDataOffset) + ck->cksize + (ck->cksize & 1);
    if (end > kMaxPos)
        return MMIOERR_CANNOTSEEK;
    h->pos = end;
    return MMSYSERR_NOERROR;
}

MMRESULT mmioCreateChunk(HMMIO h, MMCKINFO* ck, uint32_t flags) {
    if (!h || h == mmioSuccess() || !ck)
        return MMSYSERR_INVALPARAM;
    if (flags & MMIO_CREATERIFF)
        ck->ckid = kRIFF;
    else if (flags & MMIO_CREATELIST)
        ck->ckid = kLIST;
    const bool typed = ck->ckid == kRIFF || ck->ckid == kLIST;
    unsigned char header[12];
    putLe32(header, ck->ckid);
    putLe32(header + 4, ck->cksize);
    putLe32(header + 8, ck->fccType);
    if (h->pos + 8 > kMaxPos)
        return MMIOERR_CANNOTWRITE;
    ck->dwDataOffset = uint32_t(h->pos + 8);
    if (!h->writeExact(header, typed ? 12 : 8))
        return MMIOERR_CANNOTWRITE;
    ck->dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

FOURCC mmioStringToFOURCC(const char* text, uint32_t flags) {
    char c[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; text && i < 4 && text[i]; ++i)
        c[i] = (flags & MMIO_TOUPPER) ? char(std::toupper(static_cast<unsigned char>(text[i]))) : text[i];
    return mmioFOURCC(c[0], c[1], c[2], c[3]);
}
