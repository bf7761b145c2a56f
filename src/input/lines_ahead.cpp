#include "input/lines_ahead.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "io/second_processor.h"
#include "ranges/page_storage.h"
#include "ranges/range_sort.h"

namespace blockset {

namespace {

/// The second processor reads its half in blocks of this size.
constexpr std::size_t read_block = 128 * 1024;
/// Bytes looked at from the middle on for the line feed that ends the first half.
constexpr std::size_t cut_search = 64 * 1024;

/// Collects the ranges of plain lines in order, merging each into the one before where it
/// extends it, as lists in order mostly do.
struct range_run {
    ip_range* data;
    std::size_t count = 0;
    bool ascending = true;

    void operator()(std::uint32_t first, std::uint32_t last)
    {
        if (first > last) return;
        if (count > 0) {
            ip_range& tail = data[count - 1];
            if (first >= tail.first) {
                if (reaches(tail, ip_range{first, last})) {
                    if (last > tail.last) tail.last = last;
                    return;
                }
            } else {
                ascending = false;
            }
        }
        data[count++] = ip_range{first, last};
    }
};

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

std::size_t round_up(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) / unit * unit; }

} // namespace

struct lines_ahead::job {
    int fd;
    /// The start offset, and the file's end when the reading started.
    std::uint64_t start;
    std::uint64_t cut;
    std::uint64_t file_end;
    plain_lines_reader<range_run> read;
    std::atomic<bool> stop{false};
    second_processor reader;
    std::size_t mapped_bytes = 0;
    char* buffer = nullptr;
    /// Room for a range per shortest plain line between the cut and the file's end.
    ip_range* ranges = nullptr;
    found result;

    void run();
};

/// Reads the plain lines from the cut on, block by block, then sorts what they add unless it
/// came in order.
void lines_ahead::job::run()
{
    range_run added{ranges};
    std::uint64_t at = cut; // the file offset of buffer[0]
    std::size_t held = 0;
    int line_feeds = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        std::uint64_t left = file_end - (at + held);
        std::size_t wanted = read_block - held < left ? read_block - held : static_cast<std::size_t>(left);
        std::size_t got = read_at(fd, buffer + held, wanted, at + held);
        held += got;
        if (held < plain_line_room) break;
        plain_lines taken = read(std::string_view(buffer, held), added);
        at += taken.bytes;
        line_feeds += taken.line_feeds;
        std::size_t rest = held - taken.bytes;
        // A line of another kind, or the last bytes of the file: the general way reads on.
        if (rest >= plain_line_room || got == 0) break;
        std::memmove(buffer, buffer + taken.bytes, rest);
        held = rest;
    }
    result.end = at - start;
    result.line_feeds = line_feeds;
    std::size_t count = added.count;
    result.sorted = added.ascending;
    if (!result.sorted && !stop.load(std::memory_order_relaxed)) {
        try {
            range_sort_by_first(ranges, count);
            count = range_coalesce(ranges, 0, count);
            result.sorted = true;
        } catch (const std::bad_alloc&) {
            // Without scratch memory the ranges go to the list as they came.
        }
    }
    result.ranges = {ranges, count};
}

void lines_ahead::start(int fd, plain_line_reader choice, std::size_t smallest)
{
    const auto read = plain_lines_reader_for<range_run>(choice);
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
    // The block of the job, the read buffer and the ranges, mapped together; the ranges'
    // pages become resident only as they fill.
    const std::size_t job_bytes = round_up(sizeof(job), 64);
    const std::size_t buffer_bytes = round_up(read_block > cut_search ? read_block : cut_search, 64);
    const std::size_t range_count = static_cast<std::size_t>((file_end - middle) / shortest_plain_line + 1);
    const std::size_t bytes = round_up(job_bytes + buffer_bytes + range_count * sizeof(ip_range), small_page);
    char* block = static_cast<char*>(page_block_map(bytes));
    if (block == nullptr) {
        errno = saved_errno;
        return;
    }
    // A page fault costs far more than clearing a page: few, large pages suit a block that
    // fills from its start.
    if (bytes >= huge_page) page_block_prefer_huge_pages(block, bytes);
    auto* work = new (block) job{};
    work->mapped_bytes = bytes;
    work->buffer = block + job_bytes;
    work->ranges = reinterpret_cast<ip_range*>(block + job_bytes + buffer_bytes);
    std::size_t probed = read_at(fd, work->buffer, cut_search, middle);
    const void* line_feed = std::memchr(work->buffer, '\n', probed);
    bool started = false;
    if (line_feed != nullptr) {
        work->fd = fd;
        work->start = static_cast<std::uint64_t>(start);
        work->cut = middle + static_cast<std::uint64_t>(static_cast<const char*>(line_feed) - work->buffer) + 1;
        work->file_end = file_end;
        work->read = read;
        started = work->reader.start([](void* argument) { static_cast<job*>(argument)->run(); }, work);
    }
    if (started) {
        job_ = work;
    } else {
        work->~job();
        page_block_unmap(block, bytes);
    }
    errno = saved_errno;
}

std::uint64_t lines_ahead::cut() const { return job_->cut - job_->start; }

lines_ahead::found lines_ahead::finish()
{
    job_->reader.join();
    return job_->result;
}

void lines_ahead::release()
{
    if (job_ == nullptr) return;
    job_->stop.store(true, std::memory_order_relaxed);
    job_->reader.join();
    std::size_t bytes = job_->mapped_bytes;
    job_->~job();
    page_block_unmap(job_, bytes);
    job_ = nullptr;
}

} // namespace blockset
