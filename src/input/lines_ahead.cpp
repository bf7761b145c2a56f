#include "input/lines_ahead.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "io/second_processor.h"
#include "ranges/range_storage.h"

namespace blockset {

namespace {

/// The second processor reads its half in blocks of this size.
constexpr std::size_t read_block = 128 * 1024;
/// Bytes looked at from the middle on for the line feed that ends the first half.
constexpr std::size_t cut_search = 64 * 1024;

/// Reads up to n bytes at offset, retrying after interruptions and short reads; fewer only at
/// the file's end or a read error.
std::size_t read_at(int fd, char* into, std::size_t n, std::uint64_t offset)
{
    std::size_t got = 0;
    while (got < n) {
        ssize_t part = ::pread(fd, into + got, n - got, static_cast<off_t>(offset + got));
        if (part < 0 && errno == EINTR) continue;
        if (part <= 0) break;
        got += static_cast<std::size_t>(part);
    }
    return got;
}

} // namespace

struct lines_ahead::job {
    int fd;
    /// The start offset, and the file's end when the reading started.
    std::uint64_t start;
    std::uint64_t cut;
    std::uint64_t file_end;
    plain_lines_reader<range_run> read;
    /// What the main thread asks: read on, stop reading and keep what was read, or drop it.
    enum : int { read_on, keep, drop };
    std::atomic<int> stop{read_on};
    second_processor reader;
    /// The read buffer, and room for a range per shortest plain line from the cut to the
    /// file's end; the second processor takes both, so that the main thread reads on at once.
    char* buffer = nullptr;
    range_storage ranges;
    found result;

    void run();
    void read_plain_lines();
};

void lines_ahead::job::run()
{
    result.end = cut - start;
    // Without its memory the second processor reads nothing, and the main thread reads on.
    buffer = static_cast<char*>(std::malloc(read_block));
    if (buffer == nullptr) return;
    try {
        // In huge pages where the system has them: few, large pages suit a block that fills
        // from its start.
        ranges.grow(static_cast<std::size_t>((file_end - cut) / shortest_plain_line + 1), 0, true);
    } catch (const std::bad_alloc&) {
        return;
    }
    read_plain_lines();
}

/// Reads the plain lines from the cut on, block by block.
void lines_ahead::job::read_plain_lines()
{
    range_run added{ranges.data()};
    std::uint64_t at = cut; // the file offset of buffer[0]
    std::size_t held = 0;
    int line_feeds = 0;
    while (stop.load(std::memory_order_relaxed) == read_on) {
        std::uint64_t left = file_end - (at + held);
        std::size_t wanted = read_block - held < left ? read_block - held : static_cast<std::size_t>(left);
        std::size_t got = read_at(fd, buffer + held, wanted, at + held);
        held += got;
        if (held < plain_line_room) break;
        plain_lines taken = read(std::string_view(buffer, held), added);
        at += taken.bytes;
        line_feeds += taken.line_feeds;
        std::size_t rest = held - taken.bytes;
        // The last bytes of the file, or a full block whose first line the reader leaves to
        // the main thread (a line of another kind, or too long for the block): the main
        // thread reads on from there.
        if (got == 0 || (taken.bytes == 0 && held == read_block)) break;
        std::memmove(buffer, buffer + taken.bytes, rest);
        held = rest;
    }
    result.end = at - start;
    result.line_feeds = line_feeds;
    // Ranges out of order are left as they came: the main thread sorts them with its own,
    // sharing that work, more cheaply than a sort here and a merge there would.
    result.out_of_order = added.out_of_order;
    result.ranges = {ranges.data(), added.count};
}

void lines_ahead::start(int fd, plain_line_reader choice, std::size_t smallest)
{
    start(fd, plain_lines_reader_for<range_run>(choice), smallest);
}

void lines_ahead::start(int fd, plain_lines_reader<range_run> read, std::size_t smallest)
{
    if (read == nullptr || job_ != nullptr) return;
    const int saved_errno = errno;
    struct stat status {};
    const off_t start = ::lseek(fd, 0, SEEK_CUR);
    if (start < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= start
        || static_cast<std::uint64_t>(status.st_size - start) < smallest) {
        errno = saved_errno;
        return;
    }
    const auto file_end = static_cast<std::uint64_t>(status.st_size);
    const std::uint64_t middle = static_cast<std::uint64_t>(start) + (file_end - static_cast<std::uint64_t>(start)) / 2;
    std::uint64_t cut = 0;
    char probe[4096];
    for (std::uint64_t at = middle; cut == 0 && at < middle + cut_search;) {
        std::size_t got = read_at(fd, probe, sizeof probe, at);
        if (got == 0) break;
        if (const void* line_feed = std::memchr(probe, '\n', got)) {
            cut = at + static_cast<std::uint64_t>(static_cast<const char*>(line_feed) - probe) + 1;
        }
        at += got;
    }
    void* place = cut == 0 ? nullptr : std::malloc(sizeof(job));
    if (place != nullptr) {
        auto* work = new (place) job{};
        work->fd = fd;
        work->start = static_cast<std::uint64_t>(start);
        work->cut = cut;
        work->file_end = file_end;
        work->read = read;
        if (work->reader.start([](void* argument) { static_cast<job*>(argument)->run(); }, work)) {
            job_ = work;
        } else {
            work->~job();
            std::free(place);
        }
    }
    errno = saved_errno;
}

void lines_ahead::add_found_to(range_list& list)
{
    const found& found = job_->result;
    if (found.out_of_order == 0) {
        range_list_append(list, found.ranges);
    } else if (found.out_of_order < found.ranges.size() / 4) {
        // Ranges nearly in order extend the list, or merge among its last ranges, most of
        // them; sorting the few others costs less than sorting them all.
        for (const ip_range& range : found.ranges) range_list_add_range(list, range.first, range.last);
    } else {
        return;
    }
    release();
}

void lines_ahead::add_waiting_to(range_list& list)
{
    if (job_ != nullptr && finished_) range_list_add_unsorted(list, job_->result.ranges);
    release();
}

std::uint64_t lines_ahead::cut() const { return job_->cut - job_->start; }

std::uint64_t lines_ahead::length() const { return job_->file_end - job_->start; }

void lines_ahead::stop_reading() { job_->stop.store(job::keep, std::memory_order_relaxed); }

lines_ahead::found lines_ahead::finish()
{
    job_->reader.join();
    finished_ = true;
    return job_->result;
}

void lines_ahead::release()
{
    if (job_ == nullptr) return;
    job_->stop.store(job::drop, std::memory_order_relaxed);
    job_->reader.join();
    std::free(job_->buffer);
    job_->~job();
    std::free(job_);
    job_ = nullptr;
    finished_ = false;
}

} // namespace blockset
