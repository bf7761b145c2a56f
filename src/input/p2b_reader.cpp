#include "input/p2b_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <zlib.h>

#include "input/gzip_input.h"
#include "io/diagnostics.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// The decompressed bytes of a gzip stream, taken in large blocks.
class block_reader {
public:
    /// held: bytes already taken from the stream, which come first.
    block_reader(gzFile file, std::string_view held) : file_(file), end_(held.size())
    {
        if (!held.empty()) std::memcpy(buffer_, held.data(), held.size());
    }

    /// Makes up to n bytes available at data(); returns how many are (fewer only at the end).
    /// failed() tells a broken stream from one that simply ended.
    std::size_t want(std::size_t n)
    {
        while (end_ - begin_ < n && !ended_) refill();
        return std::min(n, end_ - begin_);
    }
    const unsigned char* data() const { return buffer_ + begin_; }
    void consume(std::size_t n) { begin_ += n; }
    bool failed() const { return failed_; }

    /// Skips bytes up to and including the next 00 byte. False when the input ends first.
    bool skip_name()
    {
        for (;;) {
            const void* nul = std::memchr(buffer_ + begin_, 0, end_ - begin_);
            if (nul != nullptr) {
                begin_ = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - buffer_) + 1;
                return true;
            }
            begin_ = end_;
            if (ended_) return false;
            refill();
        }
    }

private:
    void refill()
    {
        std::size_t held = end_ - begin_;
        std::memmove(buffer_, buffer_ + begin_, held);
        begin_ = 0;
        end_ = held;
        int got = gzip_input_read(file_, buffer_ + end_, sizeof buffer_ - end_);
        if (got <= 0) {
            failed_ = got < 0;
            ended_ = true;
        } else {
            end_ += static_cast<std::size_t>(got);
        }
    }

    gzFile file_;
    unsigned char buffer_[1 << 16];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

std::uint32_t big_endian(const unsigned char* bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

/// Versions 1 and 2: name, first, last, until the input ends.
void read_named_records(block_reader& in, range_list& list)
{
    for (;;) {
        if (in.want(1) == 0) return;
        if (!in.skip_name()) return;
        if (in.want(8) < 8) return;
        range_list_insert(list, ip_range{big_endian(in.data()), big_endian(in.data() + 4)});
        in.consume(8);
    }
}

/// Version 3: a counted name table, then counted 12-byte records.
void read_counted_records(block_reader& in, range_list& list)
{
    if (in.want(4) < 4) return;
    std::uint32_t names = big_endian(in.data());
    in.consume(4);
    for (std::uint32_t i = 0; i < names; ++i) {
        if (!in.skip_name()) return;
    }
    if (in.want(4) < 4) return;
    std::uint32_t ranges = big_endian(in.data());
    in.consume(4);
    for (std::uint32_t i = 0; i < ranges; ++i) {
        if (in.want(12) < 12) return;
        range_list_insert(list, ip_range{big_endian(in.data() + 4), big_endian(in.data() + 8)});
        in.consume(12);
    }
}

int read_error(const char* shown)
{
    diagnostic("Error reading file '%s'.\n", shown);
    return -1;
}

} // namespace

int p2b_read(const char* path, range_list& list)
{
    const char* shown = path != nullptr ? path : "(null)";
    gzFile file = gzip_input_open(path);
    if (file == nullptr) {
        diagnostic("Error opening file '%s'.\n", shown);
        return -1;
    }
    int result = p2b_read_stream(file, {}, shown, list);
    gzclose(file);
    return result;
}

int p2b_read_stream(gzFile_s* file, std::string_view held, const char* shown, range_list& list)
{
    block_reader in(file, held);
    if (in.want(7) < 7 || in.failed()) return read_error(shown);
    if (std::memcmp(in.data(), p2b_magic, 7) != 0) {
        diagnostic("Bad magic in file '%s'.\n", shown);
        return -1;
    }
    in.consume(7);
    int version = in.want(1) == 1 ? in.data()[0] : -1;
    if (in.failed()) return read_error(shown);
    if (version < 1 || version > 3) {
        diagnostic("Unsupported P2B-version (%d) in file '%s'.\n", version, shown);
        return -1;
    }
    in.consume(1);
    if (version == 3) {
        read_counted_records(in, list);
    } else {
        read_named_records(in, list);
    }
    if (in.failed()) return read_error(shown);
    return 0;
}

} // namespace blockset
