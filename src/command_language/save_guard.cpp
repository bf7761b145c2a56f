#include "command_language/save_guard.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "command_language/loader_saves.h"
#include "input/auto_list.h"
#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "io/process.h"
#include "ranges/address_count.h"
#include "ranges/ipv6_list.h"
#include "ranges/list_comparison.h"

namespace blockset {

namespace {

/// A reduced listing is CIDR blocks, which read back; the other loader listings do not.
enum class guarded_listing { cidr, range, single, count, reduced, loader };

/// A save's description taken apart: its listing, and its limits.
struct guarded_save {
    guarded_listing listing = guarded_listing::loader;
    std::string loader_text; ///< the loader listing's description
    std::optional<std::uint32_t> share_percent;
    std::optional<std::uint64_t> least_blocks;
};

/// What save(count, ...) counts of one family.
struct family_counts {
    std::uint64_t ranges = 0;
    std::uint64_t blocks = 0;
    address_count addresses;
};

struct set_counts {
    family_counts ipv4;
    family_counts ipv6;
};

std::vector<std::string_view> words_of(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string_view::npos) {
        std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

std::optional<guarded_listing> plain_listing(std::string_view word)
{
    if (word == "cidr") return guarded_listing::cidr;
    if (word == "range") return guarded_listing::range;
    if (word == "single") return guarded_listing::single;
    if (word == "count") return guarded_listing::count;
    return std::nullopt;
}

/// The index of the word "guard" that one or two limits follow, or 0 when there is none.
std::size_t guard_word(const std::vector<std::string_view>& words)
{
    for (std::size_t limits = 1; limits <= 2; ++limits)
        if (words.size() >= limits + 2 && words[words.size() - limits - 1] == "guard") return words.size() - limits - 1;
    return 0;
}

/// A decimal number of digits alone, up to 2^128.
std::optional<address_count> read_count(std::string_view text)
{
    if (text.empty() || text.size() > 39) return std::nullopt;
    address_count count;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        auto digit = static_cast<unsigned>(c - '0');
        if (count.low > (ipv6_top_address - digit) / 10) {
            // Only 2^128 itself, the whole IPv6 space, lies past the 128 bits.
            if (address_count_text({0, true}) != text) return std::nullopt;
            return address_count{0, true};
        }
        count.low = count.low * 10 + digit;
    }
    return count;
}

/// Reads the limits into save; the problem, or empty.
std::string read_limits(std::span<const std::string_view> limits, guarded_save& save)
{
    for (std::string_view limit : limits) {
        bool share = !limit.empty() && limit.back() == '%';
        std::optional<address_count> number = read_count(share ? limit.substr(0, limit.size() - 1) : limit);
        std::string problem = "guard '" + std::string(limit) + "' is neither N% (0 to 100) of the addresses nor N blocks";
        if (!number || number->whole || number->low > (share ? 100u : UINT64_MAX)) return problem;
        if (share ? save.share_percent.has_value() : save.least_blocks.has_value()) return "two guards of one kind";
        if (share) {
            save.share_percent = static_cast<std::uint32_t>(number->low);
        } else {
            save.least_blocks = static_cast<std::uint64_t>(number->low);
        }
    }
    return {};
}

/// Takes a guarded description apart; the problem, or empty.
std::string read_guarded(std::string_view text, guarded_save& save)
{
    std::vector<std::string_view> words = words_of(text);
    std::size_t guard = guard_word(words);
    if (guard == 1 && plain_listing(words[0])) {
        save.listing = *plain_listing(words[0]);
    } else {
        std::string_view before = text.substr(0, static_cast<std::size_t>(words[guard].data() - text.data()));
        save.loader_text = std::string(before);
        if (!loader_listing_valid(before)) return "what comes before guard is no listing";
        if (words[0] == "reduced") save.listing = guarded_listing::reduced;
    }
    return read_limits(std::span(words).subspan(guard + 1), save);
}

set_counts counts_of(set_value& set)
{
    set_counts counts;
    std::span<const ip_range> ipv4 = range_list_view(set.ranges);
    list_comparison v4 = compare_ipv4_lists(std::span(&ipv4, 1));
    counts.ipv4 = {v4.ranges[0], v4.blocks[0], v4.addresses[0]};
    if (set.ipv6) {
        std::span<const ipv6_range> ipv6 = ipv6_list_view(*set.ipv6);
        list_comparison v6 = compare_ipv6_lists(std::span(&ipv6, 1));
        counts.ipv6 = {v6.ranges[0], v6.blocks[0], v6.addresses[0]};
    }
    return counts;
}

/// The first bytes of the file, up to most.
std::string file_start(const char* path, std::size_t most)
{
    std::string text(most, '\0');
    int fd = open_path(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::size_t got = 0;
    for (ssize_t n = 1; n > 0 && got < most; got += static_cast<std::size_t>(n)) {
        n = ::read(fd, text.data() + got, most - got);
        if (n < 0) n = 0;
    }
    ::close(fd);
    text.resize(got);
    return text;
}

/// Reads "RANGES BLOCKS ADDRESSES" from words[first] on.
bool read_family_counts(const std::vector<std::string_view>& words, std::size_t first, family_counts& counts)
{
    if (words.size() < first + 3) return false;
    std::optional<address_count> ranges = read_count(words[first]);
    std::optional<address_count> blocks = read_count(words[first + 1]);
    std::optional<address_count> addresses = read_count(words[first + 2]);
    if (!ranges || !blocks || !addresses || ranges->whole || blocks->whole) return false;
    counts = {static_cast<std::uint64_t>(ranges->low), static_cast<std::uint64_t>(blocks->low), *addresses};
    return true;
}

/// The counts line a guarded nft or ipset save writes first.
constexpr std::string_view counts_line_start = "# blockset counts";

std::string counts_line(const set_counts& counts)
{
    auto family = [](const char* name, const family_counts& c) {
        return std::string(" ") + name + " " + std::to_string(c.ranges) + " " + std::to_string(c.blocks) + " " +
               address_count_text(c.addresses);
    };
    return std::string(counts_line_start) + family("ipv4", counts.ipv4) + family("ipv6", counts.ipv6) + "\n";
}

std::optional<set_counts> read_counts_line(const char* path)
{
    std::string text = file_start(path, 256);
    std::vector<std::string_view> words = words_of(std::string_view(text).substr(0, text.find('\n')));
    set_counts counts;
    if (!std::string_view(text).starts_with(counts_line_start) || words.size() != 11 || words[3] != "ipv4" ||
        words[7] != "ipv6" || !read_family_counts(words, 4, counts.ipv4) || !read_family_counts(words, 8, counts.ipv6))
        return std::nullopt;
    return counts;
}

/// The one or two lines of a count file.
std::optional<set_counts> read_count_file(const char* path)
{
    std::string text = file_start(path, 512);
    std::size_t end = text.find('\n');
    set_counts counts;
    if (end == std::string::npos || !read_family_counts(words_of(text.substr(0, end)), 0, counts.ipv4))
        return std::nullopt;
    std::string rest = text.substr(end + 1);
    if (!rest.empty() && !read_family_counts(words_of(rest.substr(0, rest.find('\n'))), 0, counts.ipv6))
        return std::nullopt;
    return counts;
}

/// A listing of blocks, ranges or addresses, read back as a published list; quietly, since
/// a file that cannot be read tells nothing and is replaced.
std::optional<set_counts> read_back(const char* path)
{
    set_value held;
    ipv6_list ipv6;
    diagnostic_capture quiet;
    data_errors_apart apart;
    if (auto_list_read(path, held.ranges, ipv6) != 0 || apart.seen()) return std::nullopt;
    held.ipv6 = std::move(ipv6);
    return counts_of(held);
}

std::optional<set_counts> held_now(const char* path, guarded_listing listing)
{
    // Only a regular file has content to compare with; opening it so tells without blocking.
    int fd = open_path(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat status;
    bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    if (!regular) return std::nullopt;
    switch (listing) {
    case guarded_listing::count: return read_count_file(path);
    case guarded_listing::loader: return read_counts_line(path);
    default: return read_back(path);
    }
}

std::string percent_text(const address_count& part, const address_count& whole)
{
    // For the message only: a tenth of a percent, cut rather than rounded, so that a share
    // just below the guard never shows as the guard itself.
    auto value = [](const address_count& c) { return c.whole ? 0x1p128L : static_cast<long double>(c.low); };
    long double tenths = value(part) * 1000.0L / value(whole);
    auto cut = static_cast<unsigned long long>(tenths);
    return std::to_string(cut / 10) + "." + std::to_string(cut % 10) + "%";
}

/// True when the guard lets the save replace the file at path; otherwise says why.
bool guard_allows(const char* path, const guarded_save& save, set_value& set)
{
    if (path == nullptr) return true;
    std::optional<set_counts> held = held_now(path, save.listing);
    if (!held) return true;
    set_counts now = counts_of(set);
    std::string why;
    if (save.share_percent) {
        for (auto [family, before, after] : {std::tuple{"IPv4", &held->ipv4, &now.ipv4}, std::tuple{"IPv6", &held->ipv6, &now.ipv6}}) {
            if (why.empty() && address_count_scaled_less(after->addresses, 100, before->addresses, *save.share_percent))
                why = address_count_grouped(after->addresses) + " of " + address_count_grouped(before->addresses) + " " +
                      family + " addresses (" + percent_text(after->addresses, before->addresses) + "), below the guard of " +
                      std::to_string(*save.share_percent) + "%";
        }
    }
    std::uint64_t blocks = now.ipv4.blocks + now.ipv6.blocks;
    if (why.empty() && save.least_blocks && blocks < *save.least_blocks) {
        address_count shown{blocks, false};
        address_count least{*save.least_blocks, false};
        why = address_count_grouped(shown) + " blocks, below the guard of " + address_count_grouped(least) + " blocks";
    }
    if (why.empty()) return true;
    diagnostic("'%s': the new list holds %s: not replaced.\n", path, why.c_str());
    note_data_error();
    return false;
}

} // namespace

bool guarded_listing_named(std::string_view text)
{
    std::vector<std::string_view> words = words_of(text);
    std::size_t guard = guard_word(words);
    return guard > 0 && (loader_listing_named(text) || (guard == 1 && plain_listing(words[0])));
}

void set_value_write_described(const char* path, expression_value value, std::string_view text)
{
    if (loader_listing_valid(text) || !guarded_listing_named(text)) return set_value_write_loader(path, std::move(value), text);
    guarded_save save;
    std::string problem = read_guarded(text, save);
    if (!problem.empty()) {
        diagnostic("Invalid listing '%s': %s.\n", std::string(text).c_str(), problem.c_str());
        note_data_error();
        return;
    }
    // Merging needs memory: it is done before the file is read or touched.
    set_value& set = value.get();
    range_list_view(set.ranges);
    if (set.ipv6) ipv6_list_view(*set.ipv6);
    if (!guard_allows(path, save, set)) return;
    switch (save.listing) {
    case guarded_listing::cidr: return set_value_write_cidr(path, std::move(value));
    case guarded_listing::range: return set_value_write_ranges(path, std::move(value));
    case guarded_listing::single: return set_value_write_addresses(path, std::move(value));
    case guarded_listing::count: return set_value_write_count(path, std::move(value));
    case guarded_listing::reduced: return set_value_write_loader(path, std::move(value), save.loader_text);
    case guarded_listing::loader: break;
    }
    std::string first_line = path != nullptr ? counts_line(counts_of(set)) : std::string();
    set_value_write_loader(path, std::move(value), save.loader_text, first_line);
}

} // namespace blockset
