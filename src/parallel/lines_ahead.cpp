#include "parallel/lines_ahead.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/helper_thread.h"
#include "platform/pages.h"
#include "ranges/ipv6_list.h"
#include "ranges/range_storage.h"

namespace blockset {

namespace {

/// The second processor reads its half in blocks of this size.
constexpr std::size_t read_block = 128 * 1024;
/// Bytes looked at from the middle on for the line feed that ends the first half.
constexpr std::size_t cut_search = 64 * 1024;
/// Room for IPv6 ranges is taken for one per this many bytes read ahead: lines of published
/// IPv6 entries are longer. Where they are shorter, the room fills and the main thread reads
/// on from there.
constexpr std::size_t ipv6_line_share = 8;
/// The list is given room for an IPv6 range per this many bytes of the file: where the file
/// holds more, the list merges them once its room is full.
constexpr std::size_t ipv6_list_line_share = 16;

/// Times a reader took lines read ahead.
std::atomic<unsigned> lines_taken{0};

/// Whether two states of a file show the same file with the same contents, as far as its
/// inode, size and modification time tell.
bool same_file(const struct stat& before, const struct stat& now)
{
    return before.st_dev == now.st_dev && before.st_ino == now.st_ino && before.st_size == now.st_size
           && before.st_mtim.tv_sec == now.st_mtim.tv_sec && before.st_mtim.tv_nsec == now.st_mtim.tv_nsec;
}

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
    /// The file as it was when the reading started.
    struct stat status;
    plain_lines_reader<range_run> read;
    /// What the main thread asks: read on, stop reading and keep what was read, or drop it.
    enum : int { read_on, keep, drop };
    std::atomic<int> stop{read_on};
    helper_thread reader;
    /// The read buffer, and room for a range per shortest plain line from the cut to the
    /// file's end, both taken by the main thread: the second one allocates nothing, and so
    /// needs no heap of its own.
    char* buffer = nullptr;
    range_storage ranges;
    /// Room for IPv6 ranges, mapped, when the reader keeps them; how many it holds.
    ipv6_range* ipv6_ranges = nullptr;
    std::size_t ipv6_room = 0;
    found result;

    bool take_memory(bool ipv6);
    std::size_t ipv6_bytes() const { return page_round_up(ipv6_room * sizeof(ipv6_range), small_page); }
    void read_plain_lines();
};

bool lines_ahead::job::take_memory(bool ipv6)
{
    result.end = cut - start;
    // From the page layer rather than the heap: a freed block of this size would raise the
    // C library's threshold for mapping blocks, and the reader's own blocks would then stay
    // in the heap after they are freed.
    buffer = static_cast<char*>(page_block_map(read_block));
    // In huge pages where the system has them: few, large pages suit a block that fills
    // from its start.
    if (buffer == nullptr || !ranges.grow(static_cast<std::size_t>((file_end - cut) / shortest_plain_line + 1), 0, true)) {
        return false;
    }
    if (!ipv6) return true;
    ipv6_room = static_cast<std::size_t>((file_end - cut) / ipv6_line_share + 1);
    ipv6_ranges = static_cast<ipv6_range*>(page_block_map(ipv6_bytes()));
    if (ipv6_ranges == nullptr) {
        // Without it, the reading ahead stops at the first IPv6 line.
        ipv6_room = 0;
    } else {
        page_block_prefer_huge_pages(ipv6_ranges, ipv6_bytes());
    }
    return true;
}

/// Reads the plain lines from the cut on, block by block.
void lines_ahead::job::read_plain_lines()
{
    range_run added{ranges.data()};
    added.ipv6_data = ipv6_ranges;
    added.ipv6_room = ipv6_room;
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
    // The IPv6 ranges are sorted here, while the main thread sorts its own: it then merges
    // the two in one pass.
    result.ipv6_entries = added.ipv6_count;
    if (stop.load(std::memory_order_relaxed) != drop) {
        result.ipv6_ranges = {ipv6_ranges, ipv6_ranges_merge_in_place({ipv6_ranges, added.ipv6_count})};
    }
}

void lines_ahead::start(int fd, plain_lines_reader<range_run> read, std::size_t smallest, bool ipv6)
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
        work->status = status;
        if (work->take_memory(ipv6)
            && work->reader.start([](void* argument) { static_cast<job*>(argument)->read_plain_lines(); }, work)) {
            job_ = work;
        } else {
            if (work->buffer != nullptr) page_block_unmap(work->buffer, read_block);
            if (work->ipv6_ranges != nullptr) page_block_unmap(work->ipv6_ranges, work->ipv6_bytes());
            work->~job();
            std::free(place);
        }
    }
    errno = saved_errno;
}

void lines_ahead::reserve_room_in(range_list& list)
{
    if (running() && !range_list_reserve(list, static_cast<std::size_t>(length() / shortest_plain_line) + 1)) release();
}

void lines_ahead::reserve_room_in(ipv6_list& list)
{
    if (running()) ipv6_list_reserve(list, static_cast<std::size_t>(length() / ipv6_list_line_share) + 1);
}

void lines_ahead::add_found_to(range_list& list)
{
    const found& found = job_->result;
    if (found.out_of_order == 0) {
        range_list_insert_sorted(list, found.ranges);
    } else if (found.out_of_order < found.ranges.size() / 4) {
        // Ranges nearly in order extend the list, or merge among its last ranges, most of
        // them; sorting the few others costs less than sorting them all.
        for (const ip_range& range : found.ranges) range_list_insert(list, range);
    } else {
        return;
    }
    lines_taken.fetch_add(1, std::memory_order_relaxed);
    release();
}

void lines_ahead::add_found_ipv6_to(ipv6_list& list)
{
    ipv6_list_insert_sorted(list, job_->result.ipv6_ranges);
    job_->result.ipv6_ranges = {};
}

void lines_ahead::add_waiting_to(range_list& list)
{
    if (job_ != nullptr && finished_) {
        for (const ip_range& range : job_->result.ranges) range_list_insert(list, range);
        lines_taken.fetch_add(1, std::memory_order_relaxed);
    }
    release();
}

std::uint64_t lines_ahead::cut() const { return job_->cut - job_->start; }

std::uint64_t lines_ahead::length() const { return job_->file_end - job_->start; }

void lines_ahead::stop_reading() { job_->stop.store(job::keep, std::memory_order_relaxed); }

lines_ahead::found lines_ahead::finish()
{
    job_->reader.join();
    finished_ = true;
    struct stat now {};
    if (::fstat(job_->fd, &now) != 0 || !same_file(job_->status, now)) {
        // The file was replaced or rewritten while it was read: a sequential reader would
        // read on from the cut in what the file holds now.
        job_->result = found{job_->cut - job_->start, 0, {}, 0, {}, 0};
    }
    return job_->result;
}

unsigned lines_ahead::taken_count() { return lines_taken.load(std::memory_order_relaxed); }

void lines_ahead::release()
{
    if (job_ == nullptr) return;
    job_->stop.store(job::drop, std::memory_order_relaxed);
    job_->reader.join();
    page_block_unmap(job_->buffer, read_block);
    if (job_->ipv6_ranges != nullptr) page_block_unmap(job_->ipv6_ranges, job_->ipv6_bytes());
    job_->~job();
    std::free(job_);
    job_ = nullptr;
    finished_ = false;
}

} // namespace blockset
