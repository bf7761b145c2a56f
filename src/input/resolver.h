#pragma once
#include <netdb.h>

namespace blockset {

/// The system resolver's two calls, replaceable so that tests can answer lookups themselves.
struct resolver {
    int (*lookup)(const char* node, const char* service, const addrinfo* hints, addrinfo** result);
    void (*release)(addrinfo* result);
};

/// The resolver host_lookup uses; getaddrinfo and freeaddrinfo until replaced.
const resolver& current_resolver();

/// Makes host_lookup use the given resolver until the guard ends, then the one before it.
class resolver_override {
public:
    explicit resolver_override(const resolver& replacement);
    ~resolver_override();
    resolver_override(const resolver_override&) = delete;
    resolver_override& operator=(const resolver_override&) = delete;

private:
    resolver previous_;
};

} // namespace blockset
