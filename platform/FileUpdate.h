// Updates of an existing file that a killed process, a second writer or a hostile folder cannot
// leave half done: an exclusive advisory lock held for the whole update, and either one write
// that lies within a single page (a process is never killed in the middle of it) or a new file
// written beside the old one, flushed, and renamed over it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include <sys/stat.h>

class TFileUpdate {
public:
    // Steps of a replacement at which a test can make it fail.
    enum class TFailStep { fsNone, fsWrite, fsFlush, fsRename };

    // How long Open waits for another update of the same file to end.
    static constexpr std::chrono::milliseconds DefaultLockWait{30000};

    TFileUpdate() = default;
    // Closes and unlocks; a read-only attribute that Open cleared is restored unless an update
    // was committed.
    ~TFileUpdate();
    TFileUpdate(const TFileUpdate&) = delete;
    TFileUpdate& operator=(const TFileUpdate&) = delete;

    // Opens the regular file that path names (symbolic links followed) for reading and writing and
    // takes its exclusive lock, waiting up to `wait` for another update of it to end. The file
    // itself must be writable by the user: the owner's own read-only attribute is cleared, another
    // user's file is refused. Temporary files that killed updates of this file left in its folder
    // are removed. False (errno set) when the file is missing, not a regular file, not writable,
    // or still locked after the wait.
    bool Open(const std::string& path, std::chrono::milliseconds wait = DefaultLockWait);

    int Fd() const { return fd_; }
    const struct stat& Stat() const { return st_; }
    // The file's real path (the target of a symbolic link).
    const std::string& Target() const { return target_; }

    // True when a write of n bytes at offset lies within one page.
    static bool FitsOnePage(int64_t offset, size_t n);
    // Writes the bytes at offset in one write within one page (FitsOnePage) and flushes the file;
    // no bytes: nothing to write. True on success; the update is then committed.
    bool WriteInPage(int64_t offset, std::string_view bytes);

    // Replaces the file by `head` followed by its own bytes from offset `from` to its end. The new
    // file is created exclusively beside it under a unique name (see TempPrefix), takes the old
    // file's owner (where the user may give it) and mode, is flushed, and renamed over the old
    // one. True on success (the update is committed); on failure the file is as it was and the new
    // file is gone. The lock is kept until Close.
    bool Replace(std::string_view head, int64_t from, TFailStep fail = TFailStep::fsNone);

    // Unlocks and closes (as the destructor does).
    void Close();

    // The start of the names of this program's temporary files for a file name (without folder):
    // "." + name + ".tessivo-", followed by six random characters.
    static std::string TempPrefix(const std::string& name);

private:
    void RemoveStaleTemps() const;

    int fd_ = -1;
    struct stat st_ {};
    std::string target_;
    bool madeWritable_ = false;
    mode_t savedMode_ = 0;
    bool committed_ = false;
};
