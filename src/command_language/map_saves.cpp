#include "command_language/map_saves.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/diagnostics.h"
#include "io/output_file.h"
#include "io/process.h"
#include "map/address_map.h"
#include "ranges/ipv6_list.h"
#include "ranges/range_list.h"

namespace blockset {

void set_value_write_map(const char* path, std::vector<expression_value> values, std::vector<std::string> names)
{
    if (values.size() > map_most_layers) {
        std::string place = "standard output";
        if (path != nullptr) place.assign(1, '\'').append(path).append(1, '\'');
        diagnostic("Cannot map %d sets in %s: a map has colours for %d.\n", static_cast<int>(values.size()),
                   place.c_str(), static_cast<int>(map_most_layers));
        note_data_error();
        return;
    }
    if (const std::string& why = map_drawing_unavailable(); !why.empty()) {
        diagnostic("Cannot draw maps: %s.\n", why.c_str());
        note_write_error();
        return;
    }
    // Merging needs memory and may move a list: every list first, then their views.
    for (expression_value& value : values) {
        range_list_view(value.get().ranges);
        if (value.get().ipv6) ipv6_list_view(*value.get().ipv6);
    }
    std::vector<map_layer> layers;
    for (std::size_t i = 0; i < values.size(); ++i) {
        set_value& set = values[i].get();
        map_layer layer{std::move(names[i]), range_list_view(set.ranges), std::nullopt};
        if (set.ipv6) layer.ipv6 = ipv6_list_view(*set.ipv6);
        layers.push_back(std::move(layer));
    }
    // Drawn before any file is touched: the memory it needs is there, or nothing changes.
    map_picture_ptr picture = map_picture_draw(layers);
    bool written = write_output_file(path, *picture, map_picture_write_png);
    // A map that could not be saved is a failed output, whatever the reason.
    if (!written) note_write_error();
}

} // namespace blockset
