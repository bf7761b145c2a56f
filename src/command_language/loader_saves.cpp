#include "command_language/loader_saves.h"

#include <string>
#include <string_view>
#include <vector>

#include "io/diagnostics.h"
#include "io/output_file.h"
#include "io/process.h"
#include "ranges/ipv6_list.h"
#include "ranges/loader_listings.h"
#include "ranges/prefix_reduction.h"

namespace blockset {

namespace {

std::vector<std::string_view> words_of(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t start = text.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) break;
        std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    return words;
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

/// nft reads a table or set name as an identifier: a letter, then letters, digits, "_", "-"
/// and "."; its names hold at most 255 bytes.
bool nft_name_valid(std::string_view name)
{
    if (name.empty() || name.size() > 255 || !is_letter(name[0])) return false;
    for (char c : name)
        if (!is_letter(c) && !is_digit(c) && c != '_' && c != '-' && c != '.') return false;
    return true;
}

bool nft_family_valid(std::string_view family)
{
    for (std::string_view known : {"ip", "ip6", "inet", "arp", "bridge", "netdev"})
        if (family == known) return true;
    return false;
}

/// ipset names hold at most 31 bytes; the temporary set's name adds its suffix to the live
/// one's. A name beginning with "-" would read as an option.
bool ipset_name_valid(std::string_view name)
{
    std::size_t most = 31 - std::string_view(ipset_temporary_suffix).size();
    if (name.empty() || name.size() > most || name[0] == '-') return false;
    for (char c : name)
        if (!is_letter(c) && !is_digit(c) && c != '_' && c != '-' && c != '.') return false;
    return true;
}

/// True when neither name, nor either followed by the temporary suffix, is the other.
bool ipset_names_apart(std::string_view set, std::string_view set6)
{
    std::string_view suffix = ipset_temporary_suffix;
    auto temporary_of = [&](std::string_view name, std::string_view live) {
        return name.size() == live.size() + suffix.size() && name.starts_with(live) && name.ends_with(suffix);
    };
    return set != set6 && !temporary_of(set, set6) && !temporary_of(set6, set);
}

/// What a loader listing writes, read from its description.
struct loader_listing {
    enum class kind { nft, ipset, reduced } what = kind::reduced;
    nft_set_name nft;
    ipset_set_name ipset;
};

/// Reads the budget words from words[first] on into budget; the problem, or empty.
std::string read_budget(const std::vector<std::string_view>& words, std::size_t first, entry_budget& budget)
{
    if (words.size() <= first || words.size() > first + 2) return "expected one or two budgets after reduced";
    for (std::size_t i = first; i < words.size(); ++i)
        if (!entry_budget_read(words[i], budget))
            return "budget '" + std::string(words[i]) + "' is neither N entries nor N% more";
    return {};
}

/// Reads "nft FAMILY TABLE SET [SET6]" into listing; the problem, or empty.
std::string read_nft_listing(const std::vector<std::string_view>& words, loader_listing& listing)
{
    listing.what = loader_listing::kind::nft;
    if (words.size() != 4 && words.size() != 5) return "expected nft FAMILY TABLE SET, or nft inet TABLE SET SET6";
    if (!nft_family_valid(words[1]))
        return "nft family '" + std::string(words[1]) + "' is none of ip, ip6, inet, arp, bridge, netdev";
    if (words.size() == 5 && words[1] != "inet")
        return "nft family '" + std::string(words[1]) + "' cannot hold an IPv4 and an IPv6 set; inet can";
    for (std::size_t i = 2; i < words.size(); ++i)
        if (!nft_name_valid(words[i]))
            return "nft name '" + std::string(words[i]) + "' is not a letter followed by letters, digits, '_', '-' or '.'";
    listing.nft = {std::string(words[1]), std::string(words[2]), std::string(words[3]),
                   words.size() == 5 ? std::string(words[4]) : std::string()};
    return {};
}

/// Reads "ipset SET [SET6] [reduced BUDGET [BUDGET]]" into listing; the problem, or empty.
std::string read_ipset_listing(const std::vector<std::string_view>& words, loader_listing& listing)
{
    listing.what = loader_listing::kind::ipset;
    std::size_t next = 2;
    if (words.size() > 2 && words[2] != "reduced") next = 3; // the IPv6 set's name
    if (words.size() < 2 || (words.size() > next && words[next] != "reduced"))
        return "expected ipset SET [SET6], or ipset SET [SET6] reduced BUDGET";
    for (std::size_t i = 1; i < next; ++i)
        if (!ipset_name_valid(words[i]))
            return "ipset name '" + std::string(words[i]) + "' is not 1 to 27 letters, digits, '_', '-' or '.', the first no '-'";
    // Each set's temporary is destroyed before the checks: a name that is the other set, or its
    // temporary, would destroy or fill a live set.
    if (next == 3 && !ipset_names_apart(words[1], words[2]))
        return "ipset sets '" + std::string(words[1]) + "' and '" + std::string(words[2]) +
               "' are one name, or one is the other's followed by " + ipset_temporary_suffix;
    listing.ipset.set = std::string(words[1]);
    if (next == 3) listing.ipset.set6 = std::string(words[2]);
    listing.ipset.reduced = words.size() > next;
    return listing.ipset.reduced ? read_budget(words, next + 1, listing.ipset.budget) : std::string();
}

/// Reads the description into listing; the problem, or empty.
std::string read_listing(std::string_view text, loader_listing& listing)
{
    std::vector<std::string_view> words = words_of(text);
    if (words[0] == "nft") return read_nft_listing(words, listing);
    if (words[0] == "ipset") return read_ipset_listing(words, listing);
    return read_budget(words, 1, listing.ipset.budget);
}

} // namespace

bool loader_listing_named(std::string_view text)
{
    std::vector<std::string_view> words = words_of(text);
    return !words.empty() && (words[0] == "nft" || words[0] == "ipset" || words[0] == "reduced");
}

bool loader_listing_valid(std::string_view text)
{
    loader_listing listing;
    return loader_listing_named(text) && read_listing(text, listing).empty();
}

void set_value_write_loader(const char* path, expression_value value, std::string_view text,
                            std::string_view first_line)
{
    loader_listing listing;
    std::string problem = read_listing(text, listing);
    if (!problem.empty()) {
        diagnostic("Invalid listing '%s': %s.\n", std::string(text).c_str(), problem.c_str());
        note_data_error();
        return;
    }
    // A listing without an IPv6 set holds IPv4 blocks only: writing one of a set with IPv6
    // addresses would lose those addresses without a word.
    set_value& set = value.get();
    bool holds_ipv6_set = (listing.what == loader_listing::kind::nft && !listing.nft.set6.empty()) ||
                          (listing.what == loader_listing::kind::ipset && !listing.ipset.set6.empty());
    if (!holds_ipv6_set && set.ipv6 && !ipv6_list_view(*set.ipv6).empty()) {
        diagnostic("Invalid listing '%s': the set holds IPv6 addresses and the listing names no IPv6 set.\n",
                   std::string(text).c_str());
        note_data_error();
        return;
    }
    struct bound {
        range_list* list;
        ipv6_list* ipv6;
        const loader_listing* listing;
        std::string_view first_line;
    } call{&set.ranges, set.ipv6 ? &*set.ipv6 : nullptr, &listing, first_line};
    range_list_view(*call.list); // merging needs memory: do it before any file is touched
    if (call.ipv6) ipv6_list_view(*call.ipv6);
    write_output_file(
        path,
        [](output_stream& out, void* context) {
            const bound* c = static_cast<const bound*>(context);
            if (!c->first_line.empty()) out.write(c->first_line);
            switch (c->listing->what) {
            case loader_listing::kind::nft: range_list_write_nft(out, *c->list, c->ipv6, c->listing->nft); break;
            case loader_listing::kind::ipset: range_list_write_ipset(out, *c->list, c->ipv6, c->listing->ipset); break;
            case loader_listing::kind::reduced: range_list_write_reduced(out, *c->list, c->listing->ipset.budget); break;
            }
        },
        &call);
}

} // namespace blockset
