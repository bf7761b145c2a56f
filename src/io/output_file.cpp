#include "io/output_file.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "io/process.h"

namespace blockset {

namespace {

using listing_call = void (*)(output_stream&, void*);

/// The replacement file that exists right now, if any. It is set and cleared only while the
/// ending signals are held back, so their handler always sees the truth.
const char* volatile unfinished_path = nullptr;

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int write_signals[] = {SIGPIPE, SIGXFSZ};

void end_by_signal(int number)
{
    remove_unfinished_output();
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(number, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(number);
    _exit(128 + number);
}

/// For as long as one named file is written: SIGPIPE and SIGXFSZ are ignored, so a reader that
/// quits or a file-size limit makes a write fail; the ending signals remove the unfinished file
/// first (unless the process was started with them ignored). Everything is restored after.
class file_signals {
public:
    file_signals()
    {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        for (std::size_t i = 0; i < std::size(write_signals); ++i)
            sigaction(write_signals[i], &ignore, &saved_write_[i]);

        struct sigaction cleanup = {};
        cleanup.sa_handler = &end_by_signal;
        sigemptyset(&cleanup.sa_mask);
        for (int number : ending_signals) sigaddset(&cleanup.sa_mask, number);
        for (std::size_t i = 0; i < std::size(ending_signals); ++i) {
            sigaction(ending_signals[i], nullptr, &saved_ending_[i]);
            if (saved_ending_[i].sa_handler != SIG_IGN) sigaction(ending_signals[i], &cleanup, nullptr);
        }
    }
    ~file_signals()
    {
        for (std::size_t i = 0; i < std::size(ending_signals); ++i)
            sigaction(ending_signals[i], &saved_ending_[i], nullptr);
        for (std::size_t i = 0; i < std::size(write_signals); ++i)
            sigaction(write_signals[i], &saved_write_[i], nullptr);
    }
    file_signals(const file_signals&) = delete;
    file_signals& operator=(const file_signals&) = delete;

private:
    struct sigaction saved_write_[std::size(write_signals)];
    struct sigaction saved_ending_[std::size(ending_signals)];
};

/// Holds the ending signals back while the unfinished file comes into being or goes away.
class ending_signals_held {
public:
    ending_signals_held()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int number : ending_signals) sigaddset(&set, number);
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~ending_signals_held() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    ending_signals_held(const ending_signals_held&) = delete;
    ending_signals_held& operator=(const ending_signals_held&) = delete;

private:
    sigset_t saved_;
};

bool report_open_error(const char* path)
{
    diagnostic("Error opening file '%s'.\n", path);
    return false;
}

bool report_write_error(const char* path)
{
    diagnostic("Error writing file '%s'.\n", path);
    note_write_error();
    return false;
}

/// Closes a written file. Where close is interrupted the descriptor is gone all the same, and
/// the data was handed over before.
bool close_written(int fd) { return ::close(fd) == 0 || errno == EINTR; }

/// The directory part of path with its final slash ("" for a bare name).
std::string directory_of(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

/// The path of the file that path names once symbolic links in its last component are followed.
std::string resolve_links(const char* path)
{
    std::string current = path;
    std::string link(PATH_MAX, '\0');
    // Past this many links open() itself gives up (ELOOP), so the answer no longer matters.
    for (int hops = 0; hops < 40; ++hops) {
        ssize_t length = readlink_path(current.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) break;
        std::string_view target(link.data(), static_cast<std::size_t>(length));
        current = target.front() == '/' ? std::string(target) : directory_of(current).append(target);
    }
    return current;
}

/// True when the open file is also the process's standard input, output or error: replacing
/// it would leave that descriptor on the old file.
bool is_standard_stream(const struct stat& file)
{
    for (int fd = 0; fd <= 2; ++fd) {
        struct stat standard;
        if (::fstat(fd, &standard) == 0 && standard.st_dev == file.st_dev && standard.st_ino == file.st_ino)
            return true;
    }
    return false;
}

/// The new file that is written beside a target and then renamed over it. Until that rename
/// the file is unfinished: it is removed when this ends (or the process does), whatever the way.
class replacement_file {
public:
    /// Picks a name in target's directory that no other file is likely to have: hidden, after
    /// the target, the process and an attempt number, the target's part cut short enough for
    /// the usual name limit. Nothing exists yet.
    explicit replacement_file(const std::string& target)
    {
        std::string directory = directory_of(target);
        std::string base = target.substr(directory.size(), 200);
        prefix_ = directory + "." + base + "." + std::to_string(::getpid()) + ".";
        name_.reserve(prefix_.size() + 12);
    }
    ~replacement_file() { remove(); }
    replacement_file(const replacement_file&) = delete;
    replacement_file& operator=(const replacement_file&) = delete;

    /// Creates the file, with the given mode before the umask. Returns its descriptor, or -1
    /// with errno set.
    int create(mode_t mode)
    {
        int fd = -1;
        int error = 0;
        {
            ending_signals_held held;
            for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
                name_.assign(prefix_);
                char digits[12];
                int length = std::snprintf(digits, sizeof digits, "%u", attempt);
                name_.append(digits, static_cast<std::size_t>(length));
                fd = open_path(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
                error = errno;
                if (fd < 0 && error != EEXIST) break;
            }
            if (fd >= 0) unfinished_path = name_.c_str();
        }
        errno = error;
        return fd;
    }
    /// The file's name while it exists.
    const char* name() const { return name_.c_str(); }
    /// Renames the finished file over target. Returns 0, or the rename's errno (the file is
    /// then still unfinished).
    int rename_over(const std::string& target)
    {
        ending_signals_held held;
        int error = rename_path(name_.c_str(), target.c_str()) == 0 ? 0 : errno;
        if (error == 0) unfinished_path = nullptr;
        return error;
    }
    void remove()
    {
        ending_signals_held held;
        if (unfinished_path == name_.c_str()) remove_unfinished_output();
    }

private:
    std::string prefix_;
    std::string name_;
};

enum class replacement { done, failed, write_in_place };

/// True when the file open at written holds exactly the bytes of the file at target, whose
/// size is target_size: the save then has nothing to change.
bool same_bytes(int written, const std::string& target, off_t target_size)
{
    struct stat status;
    if (::fstat(written, &status) != 0 || status.st_size != target_size) return false;
    int fd = open_path(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    constexpr std::size_t chunk = 65536;
    std::string ours(chunk, '\0');
    std::string theirs(chunk, '\0');
    bool same = true;
    for (off_t offset = 0; same && offset < target_size;) {
        ssize_t got = ::pread(written, ours.data(), chunk, offset);
        same = got > 0 && ::pread(fd, theirs.data(), static_cast<std::size_t>(got), offset) == got &&
               std::memcmp(ours.data(), theirs.data(), static_cast<std::size_t>(got)) == 0;
        offset += got;
    }
    ::close(fd);
    return same;
}

/// True for the errors of a directory that takes no new file, or of a target that cannot be
/// replaced by another (a mount point, another user's file in a sticky directory): the target
/// must then be written where it is.
bool must_write_in_place(int error)
{
    return error == EACCES || error == EPERM || error == EROFS || error == ENAMETOOLONG || error == EXDEV ||
           error == EBUSY;
}

/// Writes the listing into a new file beside the target and renames it over the target.
/// existing is the target's status, or null for a file that does not exist yet. Returns
/// write_in_place, having changed nothing, where the target cannot be replaced this way.
replacement replace_file(const char* path, const struct stat* existing, output_stream& out,
                         listing_call listing, void* context)
{
    const std::string target = resolve_links(path);
    // A name that ends in "/" (or is empty) cannot be a new file; opening it tells why.
    if (target.empty() || target.back() == '/') return replacement::write_in_place;
    replacement_file file(target);
    int fd = file.create(existing != nullptr ? 0600 : 0666);
    if (fd < 0) {
        // A new file has no old content to lose, so it may always be written the plain way.
        if (existing == nullptr || must_write_in_place(errno)) return replacement::write_in_place;
        report_write_error(path);
        return replacement::failed;
    }
    bool written = true;
    if (existing != nullptr) {
        // Owner and group before the mode: a change of owner may clear set-id bits.
        if (::fchown(fd, existing->st_uid, existing->st_gid) != 0 && errno != EPERM) written = false;
        if (::fchmod(fd, existing->st_mode & 07777) != 0) written = false;
    }
    out.attach(fd);
    listing(out, context);
    written = out.flush() && written;
    // Bytes that the file holds already leave it as it is: same inode, same modification time,
    // so whatever watches the file sees no change.
    if (written && existing != nullptr && same_bytes(fd, target, existing->st_size)) {
        close_written(fd);
        file.remove();
        return replacement::done;
    }
    written = ::fsync(fd) == 0 && written;
    written = close_written(fd) && written;
    if (written) {
        int rename_error = file.rename_over(target);
        if (rename_error == 0) return replacement::done;
        file.remove();
        if (existing == nullptr || must_write_in_place(rename_error)) return replacement::write_in_place;
    }
    file.remove();
    report_write_error(path);
    return replacement::failed;
}

bool write_in_place(const char* path, int fd, output_stream& out, listing_call listing, void* context)
{
    out.attach(fd);
    listing(out, context);
    bool written = out.flush();
    if (!close_written(fd)) written = false;
    return written || report_write_error(path);
}

} // namespace

void remove_unfinished_output()
{
    if (const char* path = unfinished_path) {
        unlink_path(path);
        unfinished_path = nullptr;
    }
}

bool write_output_file(const char* path, listing_call listing, void* context)
{
    if (path == nullptr) {
        listing(standard_output(), context);
        return true;
    }
    // The buffer comes first: running out of memory must not leave a file half made.
    output_stream out(-1);
    file_signals signals;
    // Opening without creating or truncating tells what the target is and leaves it untouched.
    int fd = open_path(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) return report_open_error(path);
        replacement replaced = replace_file(path, nullptr, out, listing, context);
        if (replaced != replacement::write_in_place) return replaced == replacement::done;
        fd = open_path(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return report_open_error(path);
        return write_in_place(path, fd, out, listing, context);
    }
    struct stat status;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        replacement replaced =
            is_standard_stream(status) ? replacement::write_in_place : replace_file(path, &status, out, listing, context);
        if (replaced != replacement::write_in_place) {
            ::close(fd);
            return replaced == replacement::done;
        }
        // In place, a regular file is truncated first, as opening it with O_TRUNC would.
        if (::ftruncate(fd, 0) != 0) {
            ::close(fd);
            return report_write_error(path);
        }
    }
    return write_in_place(path, fd, out, listing, context);
}

namespace {

/// Whether the replacement target exists as a regular file (its status in existing); false with
/// errno set when it exists as something else or cannot be looked at.
bool look_at_target(const std::string& target, struct stat& existing, bool& exists)
{
    // Opened without blocking, so that a FIFO at path does not wait for a writer.
    int old = open_path(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (old < 0) {
        exists = false;
        return errno == ENOENT;
    }
    exists = ::fstat(old, &existing) == 0;
    ::close(old);
    if (exists && !S_ISREG(existing.st_mode)) {
        errno = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    return true;
}

} // namespace

replacement_outcome replace_output_file(const char* path, bool (*fill)(int fd, const char* name, void* context),
                                        void* context)
{
    const std::string target = resolve_links(path);
    if (target.empty() || target.back() == '/') {
        errno = EISDIR;
        return replacement_outcome::failed;
    }
    struct stat existing;
    bool exists = false;
    if (!look_at_target(target, existing, exists)) return replacement_outcome::failed;
    file_signals signals;
    replacement_file file(target);
    int fd = file.create(exists ? 0600 : 0666);
    if (fd < 0) return replacement_outcome::failed;
    bool made = true;
    if (exists) {
        // Owner and group before the mode: a change of owner may clear set-id bits.
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0 && errno != EPERM) made = false;
        if (::fchmod(fd, existing.st_mode & 07777) != 0) made = false;
    }
    if (made && !fill(fd, file.name(), context)) {
        ::close(fd);
        return replacement_outcome::refused;
    }
    int error = 0;
    if (!made || ::fsync(fd) != 0) error = errno;
    if (!close_written(fd) && error == 0) error = errno;
    if (error == 0) error = file.rename_over(target);
    errno = error;
    return error == 0 ? replacement_outcome::replaced : replacement_outcome::failed;
}

} // namespace blockset
