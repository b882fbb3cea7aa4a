#include "platform/FileUpdate.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int64_t PageSize = 4096;
constexpr const char* TempMark = ".tessivo-";
constexpr size_t TempRandomChars = 6;  // mkostemp's XXXXXX

// Keeps errno across cleanup calls that may change it.
struct ErrnoKeeper {
    int saved = errno;
    ~ErrnoKeeper() { errno = saved; }
};

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Appends the source's bytes from `from` to `length` to dst; true when every byte arrived.
bool CopyRest(int src, int64_t from, int64_t length, int dst) {
    off_t in = from;
    int64_t left = length - from;
    if (left < 0) {
        errno = EINVAL;
        return false;
    }
    // The kernel copies without bringing the data through user space when it can.
    while (left > 0) {
        const ssize_t c = ::copy_file_range(src, &in, dst, nullptr, static_cast<size_t>(std::min<int64_t>(left, 1 << 30)), 0);
        if (c < 0 && errno == EINTR) continue;
        if (c <= 0) break;
        left -= c;
    }
    if (left == 0) return true;
    std::vector<char> buf(1 << 20);
    while (left > 0) {
        const ssize_t r = ::pread(src, buf.data(), static_cast<size_t>(std::min<int64_t>(left, int64_t(buf.size()))), in);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (r == 0) errno = EIO;  // the file shrank under us
            return false;
        }
        if (!WriteAll(dst, buf.data(), static_cast<size_t>(r))) return false;
        in += r;
        left -= r;
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? std::string(".") : parent;
}

void SyncFolder(const std::string& folder) {
    const int d = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d < 0) return;
    ::fsync(d);
    ::close(d);
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

TFileUpdate::~TFileUpdate() { Close(); }

std::string TFileUpdate::TempPrefix(const std::string& name) {
    // Room for the dot, the mark and the random characters within a name's 255 bytes; a long name
    // is cut and made unique again by a hash of the whole of it.
    constexpr size_t keep = 200;
    std::string base = name;
    if (base.size() > keep) {
        uint64_t h = 1469598103934665603ull;
        for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
        base = base.substr(0, keep) + hex;
    }
    return "." + base + TempMark;
}

bool TFileUpdate::Open(const std::string& path, std::chrono::milliseconds wait) {
    Close();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        char real[PATH_MAX];
        if (!::realpath(path.c_str(), real)) return false;
        target_ = real;
        struct stat st {};
        if (::stat(target_.c_str(), &st) != 0) return false;
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            return false;
        }
        // The right to replace the file is the right to write it, not only its folder's. The
        // owner's read-only attribute is cleared, as saving the file is what was asked.
        const bool writable = ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) == 0;
        if (!writable && (errno != EACCES || st.st_uid != ::geteuid())) return false;
        if (!(st.st_mode & S_IWUSR) && (writable || st.st_uid == ::geteuid())) {
            if (::chmod(target_.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0) {
                madeWritable_ = true;
                savedMode_ = st.st_mode & 07777;
            } else if (!writable) {
                return false;
            }
        }
        fd_ = ::open(target_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd_ < 0) {
            ErrnoKeeper keep;
            if (madeWritable_) ::chmod(target_.c_str(), savedMode_);
            madeWritable_ = false;
            return false;
        }
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
                ErrnoKeeper keep;
                Close();
                return false;
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(20));
        }
        // A save that held the lock before may have renamed a new file over this one: the lock
        // of the file now under the name is the one that counts.
        struct stat now {};
        if (::fstat(fd_, &st_) == 0 && ::stat(target_.c_str(), &now) == 0 && SameFile(st_, now)) break;
        Close();
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
    }
    RemoveStaleTemps();
    return true;
}

void TFileUpdate::RemoveStaleTemps() const {
    // Only while holding the lock: no other save of this file is writing its temporary file now.
    const std::string folder = FolderOf(target_);
    const std::string prefix = TempPrefix(std::filesystem::path(target_).filename().string());
    DIR* d = ::opendir(folder.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name(e->d_name);
        if (name.size() != prefix.size() + TempRandomChars || name.substr(0, prefix.size()) != prefix) continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(d), e->d_name, 0);  // failing is harmless: a later name is unique anyway
    }
    ::closedir(d);
}

bool TFileUpdate::FitsOnePage(int64_t offset, size_t n) {
    return n > 0 && offset >= 0 && offset / PageSize == (offset + int64_t(n) - 1) / PageSize;
}

bool TFileUpdate::WriteInPage(int64_t offset, std::string_view bytes) {
    if (fd_ >= 0 && bytes.empty()) {
        committed_ = true;
        return true;
    }
    if (fd_ < 0 || !FitsOnePage(offset, bytes.size())) {
        errno = EINVAL;
        return false;
    }
    ssize_t w;
    do w = ::pwrite(fd_, bytes.data(), bytes.size(), offset);
    while (w < 0 && errno == EINTR);
    if (w != static_cast<ssize_t>(bytes.size())) {
        if (w >= 0) errno = EIO;
        return false;
    }
    if (::fdatasync(fd_) != 0) return false;
    committed_ = true;
    return true;
}

bool TFileUpdate::Replace(std::string_view head, int64_t from, TFailStep fail) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    const std::string folder = FolderOf(target_);
    std::string temp = folder + "/" + TempPrefix(std::filesystem::path(target_).filename().string()) +
                       std::string(TempRandomChars, 'X');
    // Created exclusively under a name nobody can have planted a link at.
    const int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) return false;
    bool ok = WriteAll(out, head.data(), head.size()) && fail != TFailStep::fsWrite &&
              CopyRest(fd_, from, st_.st_size, out);
    if (ok) {
        struct stat written {};
        ok = ::fstat(out, &written) == 0 && written.st_size == int64_t(head.size()) + st_.st_size - from;
        if (!ok) errno = EIO;
    }
    if (ok) {
        // The owner and group stay where the user may give them; the mode always stays.
        if (::fchown(out, st_.st_uid, st_.st_gid) != 0 && ::fchown(out, static_cast<uid_t>(-1), st_.st_gid) != 0) {
        }
        const mode_t mode = madeWritable_ ? savedMode_ | S_IWUSR : st_.st_mode & 07777;
        ok = ::fchmod(out, mode) == 0;
    }
    if (ok) ok = fail != TFailStep::fsFlush && ::fsync(out) == 0;
    if (::close(out) != 0) ok = false;
    if (ok) ok = fail != TFailStep::fsRename && ::rename(temp.c_str(), target_.c_str()) == 0;
    if (!ok) {
        ErrnoKeeper keep;
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(folder);
    committed_ = true;
    return true;
}

void TFileUpdate::Close() {
    if (fd_ >= 0) {
        if (madeWritable_ && !committed_) ::fchmod(fd_, savedMode_);
        ::close(fd_);  // releases the lock
    }
    fd_ = -1;
    madeWritable_ = false;
    committed_ = false;
}
