#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "ranges/ip_range.h"
#include "ranges/ipv6_range.h"

namespace blockset {

class output_stream;

/// One set of a map: its name in the legend and its ranges, each part sorted, disjoint and
/// non-adjacent. ipv6 is engaged when the set holds an IPv6 part (even an empty one).
struct map_layer {
    std::string name;
    std::span<const ip_range> ipv4;
    std::optional<std::span<const ipv6_range>> ipv6;
};

/// A map has one colour for each set, from a palette of this many.
constexpr std::size_t map_most_layers = 7;

/// "" when maps can be drawn here, else why not (cairo or libpng cannot be loaded: they are
/// loaded when the first map is drawn).
const std::string& map_drawing_unavailable();

/// A drawn map, ready to be written.
struct map_picture;
struct map_picture_deleter {
    void operator()(map_picture* picture) const;
};
using map_picture_ptr = std::unique_ptr<map_picture, map_picture_deleter>;

/// Draws the layers (at most map_most_layers): the IPv4 space on a 4096 by 4096 Hilbert
/// curve, one pixel per /24, a legend beside it, and, when a layer holds an IPv6 part, the
/// IPv6 space from 2000::/4 on a second square below, one pixel per /28. Memory that cannot
/// be had throws std::bad_alloc. Only once map_drawing_unavailable() has said "".
map_picture_ptr map_picture_draw(std::span<const map_layer> layers);

/// Writes the picture as PNG. Write failures are what out remembers.
void map_picture_write_png(output_stream& out, map_picture& picture);

} // namespace blockset
