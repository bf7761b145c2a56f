#include "map/address_map.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>


#include "io/output_stream.h"
#include "map/drawing_libraries.h"
#include "ranges/pixel_coverage.h"

namespace blockset {

namespace {

/// A square panel is 2^12 pixels a side: the order-12 Hilbert curve, 2^24 pixels.
constexpr int panel_side = 4096;
constexpr unsigned curve_order = 12;
/// The legend's column, right of the panels.
constexpr int legend_width = 1024;
constexpr int legend_margin = 40;
/// Between the IPv4 panel and the IPv6 panel below it.
constexpr int panel_gap = 32;
/// The grid's squares are 256 pixels a side: a /8 of IPv4, a /12 of the IPv6 panel.
constexpr int square_side = 256;

/// IPv6 lists live in 2000::/4 (every allocation of the registries so far); at one /28 a
/// pixel it fills a panel like the IPv4 one, and a registry's /12 to /23 blocks show as
/// squares while a provider's /32 still lights its pixel.
constexpr ipv6_address ipv6_window_first = ipv6_from_halves(0x2000000000000000u, 0);
constexpr unsigned ipv6_window_prefix = 4;
constexpr unsigned ipv6_pixel_prefix = ipv6_window_prefix + 2 * curve_order;

struct rgb {
    double red, green, blue;
};

/// The Okabe-Ito palette (safe for the common colour-vision deficiencies), less its black:
/// orange, sky blue, bluish green, yellow, blue, vermillion, reddish purple.
constexpr std::array<rgb, map_most_layers> palette = {{
    {0xE6 / 255.0, 0x9F / 255.0, 0x00 / 255.0},
    {0x56 / 255.0, 0xB4 / 255.0, 0xE9 / 255.0},
    {0x00 / 255.0, 0x9E / 255.0, 0x73 / 255.0},
    {0xF0 / 255.0, 0xE4 / 255.0, 0x42 / 255.0},
    {0x00 / 255.0, 0x72 / 255.0, 0xB2 / 255.0},
    {0xD5 / 255.0, 0x5E / 255.0, 0x00 / 255.0},
    {0xCC / 255.0, 0x79 / 255.0, 0xA7 / 255.0},
}};
constexpr rgb background = {0, 0, 0};
constexpr rgb overlap = {1, 1, 1};
constexpr rgb grid = {0x22 / 255.0, 0x22 / 255.0, 0x22 / 255.0};
constexpr rgb square_label = {0x30 / 255.0, 0x30 / 255.0, 0x30 / 255.0};
constexpr rgb legend_text = {0xDD / 255.0, 0xDD / 255.0, 0xDD / 255.0};
/// A pixel holding one address of a set shows its colour at this share of full strength.
constexpr double faintest = 0.4;

std::uint32_t pixel_value(rgb colour)
{
    auto channel = [](double value) { return static_cast<std::uint32_t>(std::lround(value * 255.0)); };
    return channel(colour.red) << 16 | channel(colour.green) << 8 | channel(colour.blue);
}

/// The colour at a strength from 0 (just one address) to 1 (every address of the pixel),
/// growing with the logarithm of the share so that single hosts still show.
rgb shade(rgb colour, double strength)
{
    double t = faintest + (1 - faintest) * strength;
    return {background.red + t * (colour.red - background.red), background.green + t * (colour.green - background.green),
            background.blue + t * (colour.blue - background.blue)};
}

/// The (x, y) of position d on the order-12 Hilbert curve: x to the right, y downwards, the
/// curve starting at the top-left corner and ending at the top-right one.
std::pair<int, int> hilbert_position(std::uint32_t d)
{
    unsigned x = 0;
    unsigned y = 0;
    for (unsigned side = 1; side < panel_side; side *= 2) {
        unsigned rx = 1 & (d / 2);
        unsigned ry = 1 & (d ^ rx);
        if (ry == 0) {
            if (rx == 1) {
                x = side - 1 - x;
                y = side - 1 - y;
            }
            std::swap(x, y);
        }
        x += side * rx;
        y += side * ry;
        d /= 4;
    }
    return {static_cast<int>(x), static_cast<int>(y)};
}

/// The pixels of one panel, written directly into the surface's memory.
class panel_pixels {
public:
    panel_pixels(cairo_surface_t* surface, int top)
        : data_(cairo().image_surface_get_data(surface)), stride_(cairo().image_surface_get_stride(surface)),
          top_(top)
    {
    }
    void put(std::uint32_t d, std::uint32_t value)
    {
        auto [x, y] = hilbert_position(d);
        auto* row = reinterpret_cast<std::uint32_t*>(data_ + static_cast<std::ptrdiff_t>(stride_) * (top_ + y));
        row[x] = value;
    }

private:
    unsigned char* data_;
    int stride_;
    int top_;
};

/// Paints every pixel that some set touches: in the colour of the one set that holds
/// addresses there, shaded by how many, or in the overlap colour where several do. One sweep
/// over all the sets at once, in ascending order.
template <typename range_type, typename shade_function>
void paint_coverage(panel_pixels pixels, std::vector<pixel_coverage<range_type>>& cursors, shade_function shade_of)
{
    const std::uint32_t overlap_value = pixel_value(overlap);
    for (;;) {
        std::size_t holder = cursors.size();
        std::size_t holders = 0;
        for (std::size_t i = 0; i < cursors.size(); ++i) {
            if (cursors[i].done()) continue;
            if (holders == 0 || cursors[i].pixel() < cursors[holder].pixel()) {
                holder = i;
                holders = 1;
            } else if (cursors[i].pixel() == cursors[holder].pixel()) {
                ++holders;
            }
        }
        if (holders == 0) return;
        auto pixel = cursors[holder].pixel();
        pixels.put(static_cast<std::uint32_t>(pixel),
                   holders > 1 ? overlap_value : shade_of(holder, cursors[holder].addresses()));
        for (auto& cursor : cursors) {
            if (!cursor.done() && cursor.pixel() == pixel) cursor.next();
        }
    }
}

void paint_ipv4(panel_pixels pixels, std::span<const map_layer> layers)
{
    // A /24 holds 1 to 256 addresses: every shade a set can take, worked out once.
    std::vector<std::array<std::uint32_t, 257>> shades(layers.size());
    std::vector<pixel_coverage<ip_range>> cursors;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        for (unsigned n = 1; n <= 256; ++n) shades[i][n] = pixel_value(shade(palette[i], std::log2(n) / 8));
        cursors.emplace_back(layers[i].ipv4, ip_range{0, top_address}, 8);
    }
    paint_coverage(pixels, cursors, [&shades](std::size_t layer, std::uint32_t addresses) {
        return shades[layer][addresses];
    });
}

void paint_ipv6(panel_pixels pixels, std::span<const map_layer> layers)
{
    constexpr unsigned pixel_bits = 128 - ipv6_pixel_prefix;
    const ipv6_range window{ipv6_window_first, block_last_address(ipv6_window_first, ipv6_window_prefix)};
    std::vector<pixel_coverage<ipv6_range>> cursors;
    std::vector<std::size_t> layer_of;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        if (!layers[i].ipv6) continue;
        cursors.emplace_back(*layers[i].ipv6, window, pixel_bits);
        layer_of.push_back(i);
    }
    paint_coverage(pixels, cursors, [&](std::size_t cursor, ipv6_address addresses) {
        return pixel_value(shade(palette[layer_of[cursor]], std::log2(static_cast<double>(addresses)) / pixel_bits));
    });
}

void set_colour(cairo_t* cr, rgb colour) { cairo().set_source_rgb(cr, colour.red, colour.green, colour.blue); }

/// Draws text with its left end at x and its baseline at y, in a smaller size where it is
/// wider than width, and, past the smallest size, with its start cut off and "..." before the
/// rest.
void draw_text(cairo_t* cr, std::string text, double x, double y, double size, double width)
{
    constexpr double smallest = 24;
    cairo().set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo().text_extents(cr, text.c_str(), &extents);
    if (extents.x_advance > width) {
        size = std::max(smallest, size * width / extents.x_advance);
        cairo().set_font_size(cr, size);
        cairo().text_extents(cr, text.c_str(), &extents);
    }
    for (std::size_t cut = 1; extents.x_advance > width && cut < text.size(); ++cut) {
        // Whole UTF-8 sequences go: a continuation byte is never left at the start.
        std::size_t start = cut;
        while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) ++start;
        std::string shortened = std::string("...").append(text, start);
        cairo().text_extents(cr, shortened.c_str(), &extents);
        if (extents.x_advance <= width) text = std::move(shortened);
        cut = start;
    }
    cairo().move_to(cr, x, y);
    cairo().show_text(cr, text.c_str());
}

/// The faint grid of the panel's 256 squares, each with its label in its middle.
void draw_grid(cairo_t* cr, int top, std::string (*label)(unsigned square))
{
    set_colour(cr, grid);
    cairo().set_line_width(cr, 1);
    for (int k = 0; k <= panel_side / square_side; ++k) {
        // Lines on pixel centres, so that each is one pixel wide; the last inside the panel.
        double at = std::min(k * square_side, panel_side - 1) + 0.5;
        cairo().move_to(cr, at, top);
        cairo().line_to(cr, at, top + panel_side);
        cairo().move_to(cr, 0, top + at);
        cairo().line_to(cr, panel_side, top + at);
    }
    cairo().stroke(cr);
    set_colour(cr, square_label);
    cairo().set_font_size(cr, 96);
    for (unsigned square = 0; square < 256; ++square) {
        // The squares are the order-4 curve's cells, as the /8s are the order-12 curve's
        // runs of 2^16 pixels; a run starts at one of its square's corners.
        auto [first_x, first_y] = hilbert_position(square << 16);
        int x = first_x & ~(square_side - 1);
        int y = first_y & ~(square_side - 1);
        std::string text = label(square);
        cairo_text_extents_t extents;
        cairo().text_extents(cr, text.c_str(), &extents);
        cairo().move_to(cr, x + (square_side - extents.width) / 2 - extents.x_bearing,
                      top + y + (square_side - extents.height) / 2 - extents.y_bearing);
        cairo().show_text(cr, text.c_str());
    }
}

std::string ipv4_square_label(unsigned square) { return std::to_string(square); }

std::string ipv6_square_label(unsigned square)
{
    char text[8];
    std::snprintf(text, sizeof text, "%03x", 0x200 + square);
    return text;
}

/// The number in decimal, exactly.
std::string decimal(ipv6_address value)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<unsigned>(value % 10)));
        value /= 10;
    } while (value != 0);
    return digits;
}

std::uint64_t ipv4_addresses(std::span<const ip_range> ranges)
{
    std::uint64_t total = 0;
    for (const ip_range& range : ranges) total += std::uint64_t{range.last} - range.first + 1;
    return total;
}

std::string ipv6_addresses(std::span<const ipv6_range> ranges)
{
    ipv6_address total = 0;
    for (const ipv6_range& range : ranges) total += range.last - range.first + 1;
    // Disjoint ranges wrap the sum to 0 only when they are the whole space, 2^128.
    if (total == 0 && !ranges.empty()) return "340282366920938463463374607431768211456";
    return decimal(total);
}

/// The number with a comma between each group of three digits.
std::string grouped(std::string digits)
{
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
    return digits;
}

/// The legend's column: what the panels show, and each set's colour, name and size.
void draw_legend(cairo_t* cr, std::span<const map_layer> layers, bool with_ipv6)
{
    const double x = panel_side + legend_margin;
    const double width = legend_width - 2 * legend_margin;
    constexpr double swatch = 56;
    constexpr double indent = swatch + 20;
    set_colour(cr, legend_text);
    double y = 100;
    draw_text(cr, "IPv4: one pixel per /24", x, y, 48, width);
    draw_text(cr, "squares: a /8 each, by first octet", x, y += 56, 36, width);
    y += 80;
    auto entry = [&](rgb colour, const std::string& name) {
        set_colour(cr, colour);
        cairo().rectangle(cr, x, y, swatch, swatch);
        cairo().fill(cr);
        set_colour(cr, legend_text);
        draw_text(cr, name, x + indent, y + 44, 48, width - indent);
        y += swatch + 48;
    };
    for (std::size_t i = 0; i < layers.size(); ++i) {
        entry(palette[i], layers[i].name);
        draw_text(cr, grouped(std::to_string(ipv4_addresses(layers[i].ipv4))) + " addresses", x + indent, y - 10, 36,
                  width - indent);
        if (layers[i].ipv6) {
            draw_text(cr, grouped(ipv6_addresses(*layers[i].ipv6)) + " IPv6", x + indent, y += 44, 36, width - indent);
        }
        y += 60;
    }
    entry(overlap, "in two or more sets");
    if (with_ipv6) {
        y = panel_side + panel_gap + 100;
        draw_text(cr, "IPv6: 2000::/4, one pixel per /28", x, y, 48, width);
        draw_text(cr, "squares: a /12 each, by first 3 hex digits", x, y + 56, 36, width);
    }
}

/// Ends the drawing with std::bad_alloc where cairo ran out of memory.
void check(cairo_status_t status)
{
    if (status == CAIRO_STATUS_NO_MEMORY) throw std::bad_alloc();
}

} // namespace

const std::string& map_drawing_unavailable() { return drawing_libraries_load(); }

struct map_picture {
    cairo_surface_t* surface;
};

void map_picture_deleter::operator()(map_picture* picture) const
{
    cairo().surface_destroy(picture->surface);
    delete picture;
    // No other cairo object is alive now: its caches of fonts and their fontconfig patterns
    // go too, rather than stay until the process ends (where they look like leaks).
    cairo().debug_reset_static_data();
}

map_picture_ptr map_picture_draw(std::span<const map_layer> layers)
{
    bool with_ipv6 = std::any_of(layers.begin(), layers.end(), [](const map_layer& layer) { return layer.ipv6.has_value(); });
    int height = with_ipv6 ? 2 * panel_side + panel_gap : panel_side;
    // Three bytes a pixel in the PNG: the picture is opaque.
    map_picture_ptr picture(new map_picture{
        cairo().image_surface_create(CAIRO_FORMAT_RGB24, panel_side + legend_width, height)});
    check(cairo().surface_status(picture->surface));
    cairo_t* cr = cairo().create(picture->surface);
    check(cairo().status(cr));
    // A new surface is all zero bits: black, the background, already.
    static_assert(background.red == 0 && background.green == 0 && background.blue == 0);
    cairo().select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    draw_grid(cr, 0, ipv4_square_label);
    if (with_ipv6) draw_grid(cr, panel_side + panel_gap, ipv6_square_label);
    // The sets' pixels go over the grid and its labels, straight into the surface's memory.
    cairo().surface_flush(picture->surface);
    paint_ipv4(panel_pixels(picture->surface, 0), layers);
    if (with_ipv6) paint_ipv6(panel_pixels(picture->surface, panel_side + panel_gap), layers);
    cairo().surface_mark_dirty(picture->surface);
    draw_legend(cr, layers, with_ipv6);
    cairo_status_t status = cairo().status(cr);
    cairo().destroy(cr);
    check(status);
    return picture;
}

namespace {

void write_png_bytes(png_structp writer, png_bytep data, std::size_t length)
{
    static_cast<output_stream*>(png().get_io_ptr(writer))->write({reinterpret_cast<const char*>(data), length});
}

void flush_png_bytes(png_structp) {}

/// Encodes the surface's rows, each turned into red, green and blue bytes in row first.
/// False where libpng gave up (it cannot have the memory it needs).
bool encode_png(png_structp writer, png_infop info, cairo_surface_t* surface, std::vector<png_byte>& row)
{
    // libpng reports its errors by a jump back here; nothing between needs unwinding.
    if (setjmp(*png().set_longjmp_fn(writer, std::longjmp, sizeof(std::jmp_buf)))) return false;
    const int width = cairo().image_surface_get_width(surface);
    const int height = cairo().image_surface_get_height(surface);
    const unsigned char* data = cairo().image_surface_get_data(surface);
    const int stride = cairo().image_surface_get_stride(surface);
    png().set_IHDR(writer, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Unfiltered rows at zlib's fastest level: the picture is mostly long runs of one colour,
    // which that level packs nearly as well as the best one, in a fraction of the time.
    png().set_filter(writer, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png().set_compression_level(writer, 1);
    png().write_info(writer, info);
    for (int y = 0; y < height; ++y) {
        const auto* pixels = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(stride) * y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<png_byte>(pixels[x] >> 16);
            row[3 * x + 1] = static_cast<png_byte>(pixels[x] >> 8);
            row[3 * x + 2] = static_cast<png_byte>(pixels[x]);
        }
        png().write_row(writer, row.data());
    }
    png().write_end(writer, info);
    return true;
}

} // namespace

void map_picture_write_png(output_stream& out, map_picture& picture)
{
    cairo().surface_flush(picture.surface);
    std::vector<png_byte> row(3 * static_cast<std::size_t>(cairo().image_surface_get_width(picture.surface)));
    png_structp writer = png().create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = writer != nullptr ? png().create_info_struct(writer) : nullptr;
    bool encoded = false;
    if (info != nullptr) {
        png().set_write_fn(writer, &out, write_png_bytes, flush_png_bytes);
        encoded = encode_png(writer, info, picture.surface, row);
    }
    png().destroy_write_struct(&writer, &info);
    if (!encoded) throw std::bad_alloc();
}

} // namespace blockset
