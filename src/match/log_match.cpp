#include "match/log_match.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "io/output_stream.h"
#include "io/process.h"
#include "match/line_addresses.h"
#include "ranges/range_lookup.h"

namespace blockset {

namespace {

/// Bytes asked of each read, as the list readers read files and pipes.
constexpr std::size_t read_size = std::size_t{128} << 10;

/// Name that messages give standard input.
constexpr const char* standard_input_name = "(stdin)";

enum class read_outcome { complete, read_error, output_failed };

/// Reads fd to its end and hands each line, with its line feed where it has one, to
/// lines.add; lines.finish comes after the lines of each read, before their bytes move.
/// Output is flushed before each read, so that kept lines come out as the input arrives.
template <typename line_handler>
read_outcome read_lines(int fd, std::vector<char>& buffer, line_handler& lines)
{
    std::size_t held = 0; // the start of a line whose end has not been read yet
    for (;;) {
        // Room for a read after the start of a line: a line longer than the buffer makes it
        // grow, so memory follows the longest line.
        if (buffer.size() < held + read_size) buffer.resize(std::max(buffer.size() * 2, held + read_size));
        if (!standard_output().flush()) return read_outcome::output_failed;
        ssize_t count = ::read(fd, buffer.data() + held, read_size);
        if (count < 0) {
            if (errno == EINTR) continue;
            return read_outcome::read_error;
        }
        char* data = buffer.data();
        if (count == 0) {
            if (held > 0) {
                lines.add(std::string_view{data, held});
                lines.finish();
            }
            return read_outcome::complete;
        }
        const std::size_t size = held + static_cast<std::size_t>(count);
        std::size_t start = 0;
        // The held bytes hold no line feed: the search starts at the new ones.
        const char* searched = data + held;
        while (const void* found = std::memchr(searched, '\n', static_cast<std::size_t>(data + size - searched))) {
            const char* line_feed = static_cast<const char*>(found);
            lines.add(std::string_view{data + start, static_cast<std::size_t>(line_feed + 1 - (data + start))});
            start = static_cast<std::size_t>(line_feed + 1 - data);
            searched = line_feed + 1;
        }
        lines.finish();
        held = size - start;
        std::memmove(data, data + start, held);
    }
}

void write_count(output_stream& out, std::uint64_t count)
{
    char text[24];
    char* end = std::to_chars(text, text + sizeof text, count).ptr;
    *end++ = '\n';
    out.write({text, static_cast<std::size_t>(end - text)});
}

/// Lines waiting for the answers to their IPv4 addresses, which are looked up together, so
/// that a large set's memory is fetched for many lookups at once.
class line_batch {
public:
    line_batch(const match_set& set, match_options options, std::string_view prefix)
        : set_(set), options_(options), prefix_(prefix)
    {
    }

    /// Takes a line, with its line feed if it has one.
    void add(std::string_view line)
    {
        const auto slot = static_cast<std::uint32_t>(lines_.size());
        waiting_line& waiting = lines_.emplace_back(waiting_line{line, false, false});
        std::string_view text = line.substr(0, line.size() - (line.back() == '\n' ? 1 : 0));
        line_addresses_each(text, [&](const line_address& address) {
            waiting.any = true;
            if (address.is_ipv6) return waiting.inside = ranges_hold(set_.ipv6, address.ipv6);
            if (count_ == batch_size) look_up();
            addresses_[count_] = address.ipv4;
            owners_[count_] = slot;
            ++count_;
            return false;
        });
        if (lines_.size() == batch_size) finish();
    }

    /// Writes the kept lines among those taken (or counts them): before their bytes change.
    void finish()
    {
        look_up();
        const line_verdict wanted = options_.invert ? line_verdict::outside : line_verdict::inside;
        output_stream& out = standard_output();
        for (const waiting_line& waiting : lines_) {
            line_verdict verdict = waiting.inside ? line_verdict::inside
                                   : waiting.any  ? line_verdict::outside
                                                  : line_verdict::no_address;
            if (verdict != wanted) continue;
            ++kept_;
            if (options_.count) continue;
            out.write(prefix_);
            out.write(waiting.line);
        }
        lines_.clear();
    }

    std::uint64_t kept() const { return kept_; }

private:
    /// Lines and addresses that wait at most: the buffers stay small whatever the input.
    static constexpr std::size_t batch_size = 4096;

    struct waiting_line {
        std::string_view line;
        bool any;    ///< the line holds an address
        bool inside; ///< one of them is in the set
    };

    void look_up()
    {
        range_index_holds_each(set_.ipv4, {addresses_.data(), count_}, {held_.data(), count_});
        for (std::size_t i = 0; i < count_; ++i) {
            if (held_[i]) lines_[owners_[i]].inside = true;
        }
        count_ = 0;
    }

    const match_set& set_;
    match_options options_;
    std::string_view prefix_;
    std::vector<waiting_line> lines_;
    std::array<std::uint32_t, batch_size> addresses_;
    std::array<std::uint32_t, batch_size> owners_; ///< the line of each address
    std::array<bool, batch_size> held_;
    std::size_t count_ = 0;
    std::uint64_t kept_ = 0;
};

/// Matches one opened input; false once standard output has failed.
bool match_input(int fd, const char* shown, const match_set& set, match_options options, bool prefixed,
                 std::vector<char>& buffer, std::uint64_t& kept)
{
    std::string prefix = prefixed ? std::string{shown} + ":" : std::string{};
    auto lines = std::make_unique<line_batch>(set, options, prefix);
    read_outcome outcome = read_lines(fd, buffer, *lines);
    kept += lines->kept();
    if (outcome == read_outcome::output_failed) return false;
    if (outcome == read_outcome::read_error) {
        diagnostic("Error reading file '%s'.\n", shown);
        note_data_error();
        return true;
    }
    if (options.count) {
        standard_output().write(prefix);
        write_count(standard_output(), lines->kept());
    }
    return true;
}

} // namespace

std::uint64_t log_match_files(const match_set& set, match_options options, std::span<const char* const> files)
{
    std::vector<char> buffer;
    std::uint64_t kept = 0;
    if (files.empty()) {
        // Standard input can be read once per run; read again it is empty.
        int fd = claim_standard_input() ? STDIN_FILENO : -1;
        if (fd < 0) return 0;
        match_input(fd, standard_input_name, set, options, false, buffer, kept);
        return kept;
    }
    const bool prefixed = files.size() > 1;
    for (const char* path : files) {
        int fd = open_path(path, O_RDONLY);
        if (fd < 0) {
            diagnostic("Error opening file '%s'.\n", path);
            note_data_error();
            continue;
        }
        bool output_works = match_input(fd, path, set, options, prefixed, buffer, kept);
        ::close(fd);
        if (!output_works) break;
    }
    return kept;
}

} // namespace blockset
