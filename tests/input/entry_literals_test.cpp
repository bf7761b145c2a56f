#include "input/entry_literals.h"

#include <arpa/inet.h>
#include <cstring>
#include <initializer_list>
#include <map>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/resolver.h"
#include "io/diagnostics.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::ip;
using testing::one;
using testing::ranges;
using testing::ranges_of;
using testing::span;

struct literal_case {
    void (*convert)(range_list&, std::string_view);
    const char* text;
    ranges expected;
};
void PrintTo(const literal_case& row, std::ostream* out) { *out << '"' << row.text << '"'; }

class literal_conversion : public ::testing::TestWithParam<literal_case> {};

TEST_P(literal_conversion, adds_the_expected_ranges_silently)
{
    const literal_case& row = GetParam();
    range_list list;
    diagnostic_capture messages;
    row.convert(list, row.text);
    EXPECT_EQ(ranges_of(list), row.expected) << row.text;
    EXPECT_EQ(messages.text(), "");
}

std::vector<literal_case> literal_cases()
{
    std::vector<literal_case> rows = {
        // CIDR blocks keep their host bits: the range starts at the address as written.
        {add_cidr_literal, "10.0.0.5/24", {span("10.0.0.5", "10.0.0.255")}},
        {add_cidr_literal, "10.0.0.0/8", {span("10.0.0.0", "10.255.255.255")}},
        {add_cidr_literal, "1.2.3.4/0", {span("1.2.3.4", "255.255.255.255")}},
        {add_cidr_literal, "1.2.3.4/01", {span("1.2.3.4", "127.255.255.255")}},
        {add_cidr_literal, "255.255.255.255/32", {one("255.255.255.255")}},
        // Single addresses; leading zeros are decimal, never octal.
        {add_address_literal, "0.0.0.0", {one("0.0.0.0")}},
        {add_address_literal, "255.255.255.255", {one("255.255.255.255")}},
        {add_address_literal, "01.002.3.4", {one("1.2.3.4")}},
        {add_address_literal, "010.08.009.0", {one("10.8.9.0")}},
        // Ranges are handed on as written; the list drops a reversed one.
        {add_range_literal, "10.0.0.1-10.0.0.9", {span("10.0.0.1", "10.0.0.9")}},
        {add_range_literal, "0.0.0.0-255.255.255.255", {span("0.0.0.0", "255.255.255.255")}},
        {add_range_literal, "10.0.0.9-10.0.0.1", {}},
    };
    // Text that is not wholly a literal of the form, or has a number out of bounds, adds nothing.
    const auto nothing = [&rows](auto convert, std::initializer_list<const char*> texts) {
        for (const char* text : texts) rows.push_back({convert, text, {}});
    };
    nothing(add_cidr_literal, {"0.0.0.0/33", "256.0.0.0/8", "1.2.3.4", "1.2.3.4/8 "});
    nothing(add_address_literal, {"1.1.1.256", "1.2.3.4x", "1.2.3.4-5.6.7.8", "1.2.3", ""});
    nothing(add_range_literal, {"10.0.0.1-10.0.0.300", "300.0.0.1-10.0.0.3", "1.2.3.4-5.6.7", "1.2.3.4", "1.2.3.4/8"});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(entry_literals, literal_conversion, ::testing::ValuesIn(literal_cases()),
                         testing::named_by<&literal_case::text>());

TEST(entry_literals, conversions_add_to_the_list_and_read_only_their_view)
{
    // A scanner hands over views into its buffer; what follows a token is not part of it.
    range_list list;
    add_address_literal(list, std::string_view("10.0.0.101").substr(0, 9));
    add_range_literal(list, std::string_view("10.0.0.1-10.0.0.92").substr(0, 17));
    add_cidr_literal(list, std::string_view("10.0.0.12/305").substr(0, 12));
    add_address_literal(list, "10.0.0.11");
    EXPECT_EQ(ranges_of(list), (ranges{span("10.0.0.1", "10.0.0.15")}));
}

/// A resolver that answers from a table and records what it was asked.
struct fake_resolver {
    static inline std::map<std::string, std::vector<const char*>> answers;
    static inline std::map<std::string, int> failures;
    static inline std::vector<std::string> names_asked;
    static inline addrinfo hints_seen{};
    static inline int outstanding = 0;

    static int lookup(const char* node, const char*, const addrinfo* hints, addrinfo** result)
    {
        names_asked.emplace_back(node);
        hints_seen = *hints;
        if (auto failure = failures.find(node); failure != failures.end()) return failure->second;
        addrinfo* head = nullptr;
        addrinfo** tail = &head;
        for (const char* address : answers[node]) {
            auto* entry = new addrinfo{};
            auto* socket_address = new sockaddr_in{};
            socket_address->sin_family = AF_INET;
            socket_address->sin_addr.s_addr = htonl(ip(address));
            entry->ai_family = AF_INET;
            entry->ai_addr = reinterpret_cast<sockaddr*>(socket_address);
            entry->ai_addrlen = sizeof *socket_address;
            *tail = entry;
            tail = &entry->ai_next;
        }
        *result = head;
        ++outstanding;
        return 0;
    }

    static void release(addrinfo* result)
    {
        while (result != nullptr) {
            addrinfo* next = result->ai_next;
            delete reinterpret_cast<sockaddr_in*>(result->ai_addr);
            delete result;
            result = next;
        }
        --outstanding;
    }

    fake_resolver()
    {
        answers.clear();
        failures.clear();
        names_asked.clear();
        outstanding = 0;
    }
};

TEST(entry_literals, host_lookup_adds_every_address_returned_for_the_name_alone)
{
    fake_resolver fake;
    fake_resolver::answers["gw-2.lan"] = {"192.0.2.9", "10.0.0.2", "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.9",
                                          "172.16.0.3"};
    resolver_override seam({&fake_resolver::lookup, &fake_resolver::release});
    range_list list;
    add_address_literal(list, "10.0.0.9");
    diagnostic_capture messages;
    // The name is a view into a longer line; a name seen before is asked for again.
    const std::string_view held = "gw-2.lan:rest of the line";
    host_lookup(list, held.substr(0, 8));
    host_lookup(list, held.substr(0, 8));
    EXPECT_EQ(ranges_of(list), (ranges{span("10.0.0.1", "10.0.0.3"), one("10.0.0.9"), one("172.16.0.3"), one("192.0.2.9")}));
    EXPECT_EQ(messages.text(), "");
    EXPECT_EQ(fake_resolver::names_asked, (std::vector<std::string>{"gw-2.lan", "gw-2.lan"}));
    EXPECT_EQ(fake_resolver::hints_seen.ai_family, AF_INET);
    EXPECT_EQ(fake_resolver::hints_seen.ai_socktype, SOCK_STREAM);
    EXPECT_EQ(fake_resolver::outstanding, 0) << "every result list is freed";
}

class host_lookup_failure : public ::testing::TestWithParam<int> {};

TEST_P(host_lookup_failure, reports_the_resolver_reason_and_adds_nothing)
{
    fake_resolver fake;
    fake_resolver::failures["nowhere.invalid"] = GetParam();
    resolver_override seam({&fake_resolver::lookup, &fake_resolver::release});
    range_list list;
    add_address_literal(list, "10.0.0.1");
    diagnostic_capture messages;
    host_lookup(list, "nowhere.invalid");
    EXPECT_EQ(messages.text(),
              std::string("Host lookup for host 'nowhere.invalid' failed: ") + gai_strerror(GetParam()) + "\n");
    EXPECT_EQ(ranges_of(list), (ranges{one("10.0.0.1")}));
    EXPECT_EQ(fake_resolver::outstanding, 0);
}

INSTANTIATE_TEST_SUITE_P(entry_literals, host_lookup_failure,
                         ::testing::Values(EAI_NONAME, EAI_AGAIN, EAI_FAIL, EAI_MEMORY));

} // namespace
} // namespace blockset
