#pragma once
#include <string>

#include <cairo.h>
#include <png.h>

namespace blockset {

// The calls of cairo and libpng that maps make, as (member, library symbol) pairs. The libraries
// are loaded when the first map is drawn, not when the program starts: a run that draws no map
// then pays nothing for them (they and what they need are some twenty shared libraries).
#define BLOCKSET_CAIRO_CALLS(call)                                                                     \
    call(create, cairo_create) call(destroy, cairo_destroy) call(status, cairo_status)                  \
    call(fill, cairo_fill) call(line_to, cairo_line_to) call(move_to, cairo_move_to)                    \
    call(rectangle, cairo_rectangle) call(select_font_face, cairo_select_font_face)                     \
    call(set_font_size, cairo_set_font_size) call(set_line_width, cairo_set_line_width)                 \
    call(set_source_rgb, cairo_set_source_rgb) call(show_text, cairo_show_text)                         \
    call(stroke, cairo_stroke) call(text_extents, cairo_text_extents)                                   \
    call(image_surface_create, cairo_image_surface_create)                                              \
    call(image_surface_get_data, cairo_image_surface_get_data)                                          \
    call(image_surface_get_height, cairo_image_surface_get_height)                                      \
    call(image_surface_get_stride, cairo_image_surface_get_stride)                                      \
    call(image_surface_get_width, cairo_image_surface_get_width)                                        \
    call(surface_destroy, cairo_surface_destroy) call(surface_flush, cairo_surface_flush)               \
    call(surface_mark_dirty, cairo_surface_mark_dirty) call(surface_status, cairo_surface_status)          \
    call(debug_reset_static_data, cairo_debug_reset_static_data)

#define BLOCKSET_PNG_CALLS(call)                                                                       \
    call(create_write_struct, png_create_write_struct) call(create_info_struct, png_create_info_struct) \
    call(destroy_write_struct, png_destroy_write_struct) call(get_io_ptr, png_get_io_ptr)               \
    call(set_longjmp_fn, png_set_longjmp_fn) call(set_write_fn, png_set_write_fn)                       \
    call(set_IHDR, png_set_IHDR) call(set_filter, png_set_filter)                                       \
    call(set_compression_level, png_set_compression_level) call(write_info, png_write_info)             \
    call(write_row, png_write_row) call(write_end, png_write_end)

#define BLOCKSET_DECLARE_CALL(member, symbol) decltype(&::symbol) member;

struct cairo_calls {
    BLOCKSET_CAIRO_CALLS(BLOCKSET_DECLARE_CALL)
};

struct png_calls {
    BLOCKSET_PNG_CALLS(BLOCKSET_DECLARE_CALL)
};

#undef BLOCKSET_DECLARE_CALL

/// Loads both libraries once. Afterwards cairo() and png() may be called. Returns "" when they
/// are there, else why not (the library or call that is missing), each time it is asked.
const std::string& drawing_libraries_load();
/// The calls of cairo, once drawing_libraries_load() has succeeded.
const cairo_calls& cairo();
/// The calls of libpng, once drawing_libraries_load() has succeeded.
const png_calls& png();

} // namespace blockset
