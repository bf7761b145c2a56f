#include "input/p2b_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>
#include <zlib.h>

#include "input/gzip_input.h"
#include "input/list_entry.h"
#include "io/diagnostics.h"
#include "ranges/address_format.h"
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

    /// Skips bytes up to and including the next 00 byte, keeping those before it in name
    /// when it is not null. False when the input ends first.
    bool skip_name(std::string* name = nullptr)
    {
        for (;;) {
            const void* nul = std::memchr(buffer_ + begin_, 0, end_ - begin_);
            std::size_t stop = nul != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - buffer_) : end_;
            if (name != nullptr) name->append(reinterpret_cast<const char*>(buffer_ + begin_), stop - begin_);
            if (nul != nullptr) {
                begin_ = stop + 1;
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

/// Where the records go: into the list, or with their names and numbers to a consumer.
struct record_target {
    record_target(range_list* into, entry_consumer* to) : list(into), consumer(to) {}

    range_list* list;
    entry_consumer* consumer;
    std::uint64_t number = 0;
    std::string text; ///< the record being handed to the consumer, as P2P lists write it

    void take(ip_range range, std::string_view name)
    {
        ++number;
        text.assign(name).push_back(':');
        char quad[address_text_room];
        text.append(quad, format_address(quad, range.first));
        text.push_back('-');
        text.append(quad, format_address(quad, range.last));
        // A range whose first address lies above its last adds nothing, as in a list.
        if (range.first <= range.last) consumer->take(range, number, text);
    }
};

/// Versions 1 and 2: name, first, last, until the input ends. A load (searching false) keeps
/// no names and pays nothing for the search's branch.
template <bool searching>
void read_named_records(block_reader& in, record_target& target)
{
    std::string name;
    for (;;) {
        if (in.want(1) == 0) return;
        name.clear();
        if (!in.skip_name(searching ? &name : nullptr)) return;
        if (in.want(8) < 8) return;
        ip_range range{big_endian(in.data()), big_endian(in.data() + 4)};
        if constexpr (searching) {
            target.take(range, name);
        } else {
            range_list_insert(*target.list, range);
        }
        in.consume(8);
    }
}

/// Version 3: a counted name table, then counted 12-byte records, each naming its entry in
/// the table by number.
template <bool searching>
void read_counted_records(block_reader& in, record_target& target)
{
    if (in.want(4) < 4) return;
    std::uint32_t count = big_endian(in.data());
    in.consume(4);
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (searching) names.emplace_back();
        if (!in.skip_name(searching ? &names.back() : nullptr)) return;
    }
    if (in.want(4) < 4) return;
    std::uint32_t ranges = big_endian(in.data());
    in.consume(4);
    for (std::uint32_t i = 0; i < ranges; ++i) {
        if (in.want(12) < 12) return;
        ip_range range{big_endian(in.data() + 4), big_endian(in.data() + 8)};
        if constexpr (searching) {
            std::uint32_t name = big_endian(in.data());
            target.take(range, name < names.size() ? std::string_view(names[name]) : std::string_view());
        } else {
            range_list_insert(*target.list, range);
        }
        in.consume(12);
    }
}

int read_stream(gzFile file, std::string_view held, const char* shown, record_target& target);

int read_path(const char* path, record_target& target)
{
    const char* shown = path != nullptr ? path : "(null)";
    gzFile file = gzip_input_open(path);
    if (file == nullptr) {
        diagnostic("Error opening file '%s'.\n", shown);
        return -1;
    }
    int result = read_stream(file, {}, shown, target);
    gzclose(file);
    return result;
}

int read_error(const char* shown)
{
    diagnostic("Error reading file '%s'.\n", shown);
    return -1;
}

} // namespace

int p2b_read(const char* path, range_list& list)
{
    record_target target(&list, nullptr);
    return read_path(path, target);
}

int p2b_read_stream(gzFile_s* file, std::string_view held, const char* shown, range_list& list)
{
    record_target target(&list, nullptr);
    return read_stream(file, held, shown, target);
}

int p2b_search(const char* path, entry_consumer& consumer)
{
    record_target target(nullptr, &consumer);
    return read_path(path, target);
}

int p2b_search_stream(gzFile_s* file, std::string_view held, const char* shown, entry_consumer& consumer)
{
    record_target target(nullptr, &consumer);
    return read_stream(file, held, shown, target);
}

namespace {

int read_stream(gzFile file, std::string_view held, const char* shown, record_target& target)
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
    bool searching = target.consumer != nullptr;
    if (version == 3) {
        (searching ? read_counted_records<true> : read_counted_records<false>)(in, target);
    } else {
        (searching ? read_named_records<true> : read_named_records<false>)(in, target);
    }
    if (in.failed()) return read_error(shown);
    return 0;
}

} // namespace

} // namespace blockset
