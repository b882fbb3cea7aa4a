// The MPEG audio decoder library: the mpeg_* entry points over libmpg123. Each instance owns
// one decoder handle while a file is set; the file is analysed (every frame indexed) when it
// is set, so lengths, frame counts and positions are exact. Decoding is gapless, as the
// decoder does by default: encoder delay and padding announced by the encoder are removed.
#include "import/mpeglib/MpegDecoder.h"

#include "import/mpeglib/FrameMap.h"

#include <mpg123.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#define MPEG_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char* const kErrorTexts[] = {
    "No error",
    "Invalid decoder handle",
    "Invalid parameter",
    "Out of memory",
    "Unable to open the file",
    "The file holds no MPEG audio",
    "No file is set",
    "The file is not open",
    "Unable to seek to the frame",
    "Error decoding the MPEG audio",
    "Unable to initialise the MPEG decoder",
};
static_assert(sizeof(kErrorTexts) / sizeof(kErrorTexts[0]) == MPEG_ERR_LAST + 1);

struct Instance;

// One view of the file for a decoder handle: its own position, the shared descriptor.
struct Reader {
    Instance* in = nullptr;
    int64_t pos = 0;
};

struct Instance {
    int32_t handle = 0;
    mpeg_InfoCallback infoCallback = nullptr;
    void* infoData = nullptr;
    mpeg_DecodeCallback decodeCallback = nullptr;
    void* decodeData = nullptr;
    uint8_t decodeMode = 0;
    int32_t trailingHeader = 0;
    bool exactPosition = false;
    int32_t channelMode = MPEG_CHANNEL_BOTH;

    std::string fileName;
    int fd = -1;
    int64_t end = 0;   // readable bytes: the file size less the trailing bytes
    // What the decoder sees of those bytes: the whole until the file is mapped, then without
    // the long stretches of junk.
    std::vector<mpeglib::Span> spans;
    int64_t viewEnd = 0;
    bool mapped = false;
    Reader reader;     // the decoding handle's
    mpg123_handle* mh = nullptr;
    TMpegFileInfo info{};
    bool scanned = false;  // Frames, Time, Samples and a variable BitRate known
    bool open = false;
    bool done = false;
    bool formatMatches = true;
    int64_t delivered = 0;
    // Nothing decoded since the file was set or rewound: a seek to the start is skipped, since
    // seeking resets the decoder's state and the first frames then differ from a plain decode.
    bool atStart = true;
    std::vector<int16_t> scratch;

    ~Instance() { Release(); }

    bool HasFile() const { return mh != nullptr; }

    void Release() {
        if (mh) {
            mpg123_close(mh);
            mpg123_delete(mh);
            mh = nullptr;
        }
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        fileName.clear();
        spans.clear();
        viewEnd = 0;
        mapped = false;
        info = TMpegFileInfo{};
        scanned = false;
        open = false;
        done = false;
        delivered = 0;
        atStart = true;
    }

    void Notify() {
        if (infoCallback) infoCallback(handle, infoData);
    }

    const mpeglib::Span& SpanAt(int64_t view) const {
        auto it = std::upper_bound(spans.begin(), spans.end(), view,
                                   [](int64_t v, const mpeglib::Span& s) { return v < s.view; });
        return *(it == spans.begin() ? it : it - 1);
    }

    int32_t OutChannels() const {
        return (info.Channels == 2 && channelMode == MPEG_CHANNEL_BOTH) ? 2 : 1;
    }
};

// The decoder reads the file through these, so that the trailing bytes and the junk left out
// of the map stay out of reach and the decode filter sees every byte it is given. Positions
// are in the decoder's view.
ssize_t ReadProc(void* h, void* buffer, size_t count) {
    auto* r = static_cast<Reader*>(h);
    Instance* in = r->in;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < count && r->pos < in->viewEnd) {
        const mpeglib::Span& span = in->SpanAt(r->pos);
        const int64_t at = span.at + (r->pos - span.view);
        const size_t want = size_t(std::min<int64_t>(int64_t(count - got), span.view + span.size - r->pos));
        ssize_t n;
        do {
            n = ::pread(in->fd, out + got, want, off_t(at));
        } while (n < 0 && errno == EINTR);
        if (n < 0 && got == 0) return n;
        if (n <= 0) break;
        if (in->decodeCallback && in->decodeMode != 0)
            in->decodeCallback(in->decodeData, out + got, int32_t(n), at);
        r->pos += n;
        got += size_t(n);
    }
    return ssize_t(got);
}

off_t SeekProc(void* h, off_t offset, int whence) {
    auto* r = static_cast<Reader*>(h);
    int64_t base = 0;
    if (whence == SEEK_CUR) base = r->pos;
    else if (whence == SEEK_END) base = r->in->viewEnd;
    else if (whence != SEEK_SET) return -1;
    const int64_t target = base + int64_t(offset);
    if (target < 0) return -1;
    r->pos = std::min(target, r->in->viewEnd);
    return off_t(r->pos);
}

struct HandleDeleter {
    void operator()(mpg123_handle* mh) const {
        mpg123_close(mh);
        mpg123_delete(mh);
    }
};
using HandlePtr = std::unique_ptr<mpg123_handle, HandleDeleter>;

std::mutex g_tableLock;
std::vector<std::unique_ptr<Instance>> g_instances;  // handle n is slot n - 1
std::once_flag g_initOnce;
int g_initResult = MPG123_ERR;

Instance* Find(int32_t handle) {
    std::lock_guard<std::mutex> lock(g_tableLock);
    if (handle <= 0 || size_t(handle) > g_instances.size()) return nullptr;
    return g_instances[size_t(handle) - 1].get();
}

// Restricts the decoder to 16-bit signed output at the stream's own rate and channels, which
// is what the file writers of the reference player choose too.
bool ConfigureHandle(mpg123_handle* mh) {
    if (mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0) != MPG123_OK) return false;
    if (mpg123_format_none(mh) != MPG123_OK) return false;
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        if (mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK)
            return false;
    return true;
}

// A decoder handle reading the instance's file through reader, positioned at the first frame
// (null when the file holds no MPEG audio); its format in rate and channels.
HandlePtr OpenHandle(Reader& reader, long& rate, int& channels, int32_t& code) {
    int err = MPG123_OK;
    HandlePtr mh(mpg123_new(nullptr, &err));
    code = MPEG_ERR_INIT;
    if (!mh || !ConfigureHandle(mh.get())) return nullptr;
    if (mpg123_replace_reader_handle(mh.get(), ReadProc, SeekProc, nullptr) != MPG123_OK) return nullptr;
    code = MPEG_ERR_OPEN;
    reader.pos = 0;
    if (mpg123_open_handle(mh.get(), &reader) != MPG123_OK) return nullptr;
    int encoding = 0;
    code = MPEG_ERR_FORMAT;
    if (mpg123_getformat(mh.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0) return nullptr;
    // Once a stream is found, damage further on is skipped however long it is, so that a
    // corrupt file still yields everything that can be decoded.
    mpg123_param(mh.get(), MPG123_RESYNC_LIMIT, -1, 0);
    code = MPEG_OK;
    return mh;
}

// Opens the file and reads what its first frame tells; the lengths wait for Scan.
int32_t Analyse(Instance* in, const char* path) {
    in->fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in->fd < 0) return MPEG_ERR_OPEN;
    struct stat st {};
    if (::fstat(in->fd, &st) != 0 || !S_ISREG(st.st_mode)) return MPEG_ERR_OPEN;
    in->end = std::max<int64_t>(int64_t(st.st_size) - in->trailingHeader, 0);
    // MPEG audio in a RIFF wave ends with the RIFF chunk; what is appended to it is no sound.
    uint8_t riff[12];
    if (::pread(in->fd, riff, sizeof riff, 0) == ssize_t(sizeof riff) && std::memcmp(riff, "RIFF", 4) == 0 &&
        std::memcmp(riff + 8, "WAVE", 4) == 0) {
        const int64_t riffEnd = 8 + int64_t(uint32_t(riff[4]) | uint32_t(riff[5]) << 8 | uint32_t(riff[6]) << 16 |
                                            uint32_t(riff[7]) << 24);
        if (riffEnd >= 12) in->end = std::min(in->end, riffEnd);
    }
    in->spans = {mpeglib::Span{0, 0, in->end}};
    in->viewEnd = in->end;
    in->reader.in = in;

    long rate = 0;
    int channels = 0;
    int32_t code = MPEG_OK;
    HandlePtr mh = OpenHandle(in->reader, rate, channels, code);
    if (!mh) return code;
    mpg123_frameinfo fi {};
    if (mpg123_info(mh.get(), &fi) != MPG123_OK) return MPEG_ERR_FORMAT;

    TMpegFileInfo& info = in->info;
    info = TMpegFileInfo{};
    info.Version = fi.version == MPG123_1_0 ? MPEG_VERSION_1 : MPEG_VERSION_LSF;
    info.Layer = fi.layer;
    info.SampleRate = int32_t(fi.rate);
    info.PlayBackRate = int32_t(rate);
    switch (fi.mode) {
    case MPG123_M_STEREO: info.Mode = MPEG_MODE_STEREO; break;
    case MPG123_M_JOINT: info.Mode = MPEG_MODE_JOINT; break;
    case MPG123_M_DUAL: info.Mode = MPEG_MODE_DUAL; break;
    default: info.Mode = MPEG_MODE_SINGLE; break;
    }
    info.Channels = channels == 1 ? 1 : 2;
    const int spf = mpg123_spf(mh.get());
    info.FrameTime = spf > 0 ? double(spf) * 1000.0 / double(rate) : 0.0;
    info.Vbr = fi.vbr == MPG123_CBR ? 0 : 1;
    info.BitRate = fi.bitrate;
    in->mh = mh.release();
    in->formatMatches = true;
    return MPEG_OK;
}

// Leaves the long stretches of junk out of the decoder's view. The decoding handle has read no
// further than its first frames by then, which the map always keeps where they are.
void Map(Instance* in) {
    if (in->mapped || !in->HasFile()) return;
    in->mapped = true;
    in->spans = mpeglib::MapFrames(in->fd, in->end);
    in->viewEnd = in->spans.back().view + in->spans.back().size;
}

// Counts every frame of the file with a handle of its own, so that the decoding handle keeps
// its position and its gapless trimming (a scan that finds the file shorter than the encoder
// announced turns trimming off for the handle that scanned).
void Scan(Instance* in) {
    if (in->scanned || !in->HasFile()) return;
    in->scanned = true;
    Map(in);
    Reader reader{in, 0};
    long rate = 0;
    int channels = 0;
    int32_t code = MPEG_OK;
    HandlePtr mh = OpenHandle(reader, rate, channels, code);
    if (!mh) return;
    mpg123_scan(mh.get());
    const int64_t frames = std::max<int64_t>(mpg123_framelength(mh.get()), 0);
    const int64_t samples = std::max<int64_t>(mpg123_length(mh.get()), 0);
    TMpegFileInfo& info = in->info;
    info.Frames = int32_t(std::min<int64_t>(frames, INT32_MAX));
    info.Samples = samples;
    const int64_t r = info.PlayBackRate;
    info.Time = int32_t(std::min<int64_t>((samples * 1000 + r / 2) / r, INT32_MAX));
    if (info.Vbr && samples > 0)
        info.BitRate = int32_t(std::lround(double(in->end) * 8.0 / (double(samples) / double(r)) / 1000.0));
}

// Fills up to count bytes of 16-bit PCM straight from the decoder. Returns the bytes
// delivered, or the negated code when the decoder failed before any sound came out.
int32_t DecodeInto(Instance* in, uint8_t* out, int32_t count) {
    int32_t got = 0;
    while (got < count && !in->done) {
        size_t n = 0;
        in->atStart = false;
        const int r = mpg123_read(in->mh, out + got, size_t(count - got), &n);
        // Sound in another rate or channel count than the file's (damaged data that looks like
        // frames of another stream) is dropped: the next read overwrites it.
        if (in->formatMatches) {
            got += int32_t(n);
            in->delivered += int64_t(n);
        }
        if (r == MPG123_OK) continue;
        if (r == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(in->mh, &rate, &channels, &encoding);
            in->formatMatches = rate == in->info.PlayBackRate && (channels == 1 ? 1 : 2) == in->info.Channels;
            continue;
        }
        if (r == MPG123_DONE || r == MPG123_NEED_MORE) {
            in->done = true;
            break;
        }
        if (in->delivered == 0 && got == 0) return -MPEG_ERR_DECODE;
        // Damage the decoder cannot pass ends the stream; what came before stays valid.
        in->done = true;
    }
    return got;
}

}  // namespace

MPEG_EXPORT int32_t mpeg_Version(void) { return MPEG_DECODER_VERSION; }

MPEG_EXPORT int32_t mpeg_Init(int32_t* code, mpeg_InfoCallback callback, void* data) {
    std::call_once(g_initOnce, [] { g_initResult = mpg123_init(); });
    if (g_initResult != MPG123_OK) {
        if (code) *code = MPEG_ERR_INIT;
        return 0;
    }
    auto in = std::make_unique<Instance>();
    in->infoCallback = callback;
    in->infoData = data;
    std::lock_guard<std::mutex> lock(g_tableLock);
    size_t slot = 0;
    while (slot < g_instances.size() && g_instances[slot]) ++slot;
    if (slot == g_instances.size()) g_instances.emplace_back();
    in->handle = int32_t(slot + 1);
    const int32_t handle = in->handle;
    g_instances[slot] = std::move(in);
    if (code) *code = MPEG_OK;
    return handle;
}

MPEG_EXPORT int32_t mpeg_Done(int32_t* handle) {
    if (!handle) return MPEG_ERR_PARAM;
    std::unique_ptr<Instance> gone;
    {
        std::lock_guard<std::mutex> lock(g_tableLock);
        const int32_t h = *handle;
        if (h <= 0 || size_t(h) > g_instances.size() || !g_instances[size_t(h) - 1]) return MPEG_ERR_HANDLE;
        gone = std::move(g_instances[size_t(h) - 1]);
    }
    *handle = 0;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_SetDecodeCallback(int32_t handle, mpeg_DecodeCallback callback, void* data) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    in->decodeCallback = callback;
    in->decodeData = data;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_SetDecodeMode(int32_t handle, uint8_t mode) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    in->decodeMode = mode;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_Clear(int32_t handle) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    const bool had = in->HasFile();
    in->Release();
    if (had) in->Notify();
    return MPEG_OK;
}

// The number of bytes at the end of the file that are not audio; applies to the next file set.
MPEG_EXPORT int32_t mpeg_SetTrailingHeader(int32_t handle, int32_t value) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    if (value < 0) return MPEG_ERR_PARAM;
    in->trailingHeader = value;
    return MPEG_OK;
}

// Every frame is indexed when a file is set, so positioning is always exact; the flag is kept
// only to answer for it.
MPEG_EXPORT int32_t mpeg_SetExactPosition(int32_t handle, int32_t value) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    in->exactPosition = value != 0;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_SetFileName(int32_t handle, const char* path) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    const bool had = in->HasFile();
    in->Release();
    if (!path || !*path) {
        if (had) in->Notify();
        return MPEG_OK;
    }
    const int32_t rc = Analyse(in, path);
    if (rc != MPEG_OK) {
        in->Release();
        if (had) in->Notify();
        return rc;
    }
    in->fileName = path;
    in->Notify();
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_GetFileName(int32_t handle, char* buffer, int32_t size) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    if (!buffer || size <= 0) return MPEG_ERR_PARAM;
    const size_t n = std::min(in->fileName.size(), size_t(size - 1));
    std::memcpy(buffer, in->fileName.data(), n);
    buffer[n] = '\0';
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_GetEmpty(int32_t handle) {
    Instance* in = Find(handle);
    return (!in || !in->HasFile()) ? 1 : 0;
}

MPEG_EXPORT int32_t mpeg_GetFileInfo(int32_t handle, TMpegFileInfo* info) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    if (!info) return MPEG_ERR_PARAM;
    if (!in->HasFile()) return MPEG_ERR_NOFILE;
    Scan(in);
    *info = in->info;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_SetChannelMode(int32_t handle, int32_t mode) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    if (mode < MPEG_CHANNEL_LEFT || mode > MPEG_CHANNEL_DOWNMIX) return MPEG_ERR_PARAM;
    in->channelMode = mode;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_GetChannelMode(int32_t handle, int32_t* mode) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    if (!mode) return MPEG_ERR_PARAM;
    *mode = in->channelMode;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_SetPosition(int32_t handle, int32_t frame) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    if (!in->HasFile()) return MPEG_ERR_NOFILE;
    Scan(in);
    if (frame < 0 || frame > in->info.Frames) return MPEG_ERR_SEEK;
    if (frame == 0 && in->atStart) {
        in->done = false;
        return MPEG_OK;
    }
    const off_t r = frame == 0 ? mpg123_seek(in->mh, 0, SEEK_SET) : mpg123_seek_frame(in->mh, frame, SEEK_SET);
    if (r < 0) return MPEG_ERR_SEEK;
    in->done = false;
    in->atStart = frame == 0;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_GetPosition(int32_t handle) {
    Instance* in = Find(handle);
    if (!in || !in->HasFile()) return 0;
    return int32_t(std::clamp<int64_t>(mpg123_tellframe(in->mh), 0, INT32_MAX));
}

MPEG_EXPORT int32_t mpeg_OpenFile(int32_t handle) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    if (!in->HasFile()) return MPEG_ERR_NOFILE;
    Map(in);
    in->open = true;
    in->done = false;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_CloseFile(int32_t handle) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    in->open = false;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_ResetFile(int32_t handle) {
    Instance* in = Find(handle);
    if (!in) return MPEG_ERR_HANDLE;
    if (!in->open) return MPEG_ERR_NOTOPEN;
    if (!in->atStart && mpg123_seek(in->mh, 0, SEEK_SET) < 0) return MPEG_ERR_SEEK;
    in->done = false;
    in->atStart = true;
    return MPEG_OK;
}

MPEG_EXPORT int32_t mpeg_ReadDataBytes(int32_t handle, void* buffer, int32_t count) {
    Instance* in = Find(handle);
    if (!in) return -MPEG_ERR_HANDLE;
    if (!buffer || count < 0) return -MPEG_ERR_PARAM;
    if (!in->open) return -MPEG_ERR_NOTOPEN;
    const int32_t channels = in->OutChannels();
    count -= count % (2 * channels);
    if (count == 0 || in->done) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    if (channels == in->info.Channels) return DecodeInto(in, out, count);

    // One channel out of a stereo stream: decode both, then pick or mix.
    const size_t frames = size_t(count) / 2;
    if (in->scratch.size() < frames * 2) in->scratch.resize(frames * 2);
    const int32_t got = DecodeInto(in, reinterpret_cast<uint8_t*>(in->scratch.data()), int32_t(frames * 4));
    if (got <= 0) return got;
    const size_t n = size_t(got) / 4;
    const int16_t* src = in->scratch.data();
    int16_t* dst = reinterpret_cast<int16_t*>(out);
    for (size_t i = 0; i < n; ++i) {
        const int32_t l = src[2 * i], r = src[2 * i + 1];
        int16_t v;
        switch (in->channelMode) {
        case MPEG_CHANNEL_LEFT: v = int16_t(l); break;
        case MPEG_CHANNEL_RIGHT: v = int16_t(r); break;
        default: v = int16_t((l + r) >> 1); break;
        }
        std::memcpy(dst + i, &v, 2);
    }
    return int32_t(n * 2);
}

MPEG_EXPORT int32_t mpeg_GetDone(int32_t handle) {
    Instance* in = Find(handle);
    return (in && in->done) ? 1 : 0;
}

MPEG_EXPORT int32_t mpeg_GetErrorText(int32_t code, char* buffer, int32_t size) {
    if (!buffer || size <= 0 || code < 0 || code > MPEG_ERR_LAST) return MPEG_ERR_PARAM;
    std::strncpy(buffer, kErrorTexts[code], size_t(size - 1));
    buffer[size - 1] = '\0';
    return MPEG_OK;
}
