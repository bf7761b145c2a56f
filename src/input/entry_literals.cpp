#include "input/entry_literals.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

#include "input/literal_patterns.h"
#include "input/resolver.h"
#include "io/diagnostics.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// Adds the literal of the given form that is the whole text. A scanner hands over exactly the
/// text of a matched literal, whose groups have one to three digits and whose prefix length
/// has one or two: read as decimal numbers, they are what "%d.%d.%d.%d/%d" would read.
/// Any other text adds nothing.
void add_whole_literal(range_list& list, std::string_view text, literal_form form)
{
    const address_literal literal = read_address_literal(text);
    if (literal.form == form && literal.length == text.size() && literal.in_bounds) range_list_insert(list, literal_range(literal));
}

} // namespace

void add_range_literal(range_list& list, std::string_view text) { add_whole_literal(list, text, literal_form::range); }

void add_cidr_literal(range_list& list, std::string_view text) { add_whole_literal(list, text, literal_form::cidr); }

void add_address_literal(range_list& list, std::string_view text) { add_whole_literal(list, text, literal_form::address); }

void host_lookup(range_list& list, std::string_view host_name)
{
    // The resolver wants a terminated name; a scanner's text is a view into its buffer.
    std::string name(host_name);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = 0;
    hints.ai_protocol = 0;
    addrinfo* result = nullptr;
    const resolver& system = current_resolver();
    int code = system.lookup(name.c_str(), nullptr, &hints, &result);
    if (code != 0) {
        diagnostic("Host lookup for host '%s' failed: %s\n", name.c_str(), gai_strerror(code));
        return;
    }
    for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        const auto* socket_address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        const std::uint32_t address = ntohl(socket_address->sin_addr.s_addr);
        range_list_insert(list, ip_range{address, address});
    }
    system.release(result);
}

} // namespace blockset
