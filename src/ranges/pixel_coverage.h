#pragma once
#include <algorithm>
#include <cstddef>
#include <span>

namespace blockset {

/// Walks the pixels of a picture of the address space that a list touches, in ascending
/// order, with the number of the list's addresses in each. The picture shows window, whose
/// first address is a multiple of the pixel size; pixel p holds the 2^pixel_bits addresses from
/// window.first + p * 2^pixel_bits on (IPv4 maps: the whole space, one /24 a pixel). Ranges are
/// sorted, disjoint and non-adjacent, as the lists' views give them; what lies outside the
/// window is left out.
template <typename range_type>
class pixel_coverage {
public:
    using address = decltype(range_type::first);

    pixel_coverage(std::span<const range_type> ranges, range_type window, unsigned pixel_bits)
        : ranges_(ranges), window_(window), mask_((address{1} << pixel_bits) - 1), pixel_bits_(pixel_bits),
          start_(window.first)
    {
        next();
    }

    /// True once every touched pixel has been seen; pixel() and addresses() are then void.
    bool done() const { return done_; }
    /// The pixel's number in the window.
    address pixel() const { return pixel_; }
    /// How many of the list's addresses the pixel holds: 1 to 2^pixel_bits.
    address addresses() const { return addresses_; }

    /// Moves on to the next pixel the list touches.
    void next()
    {
        while (index_ < ranges_.size() && ranges_[index_].last < start_) ++index_;
        if (at_end_ || index_ == ranges_.size() || ranges_[index_].first > window_.last) {
            done_ = true;
            return;
        }
        address from = std::max(ranges_[index_].first, start_);
        address pixel_first = from & ~mask_;
        address pixel_last = from | mask_;
        pixel_ = (pixel_first - window_.first) >> pixel_bits_;
        addresses_ = 0;
        // Ranges past the first start inside the pixel; the last one may go on past it.
        for (; index_ < ranges_.size() && ranges_[index_].first <= pixel_last; ++index_) {
            address low = std::max(ranges_[index_].first, pixel_first);
            address high = std::min(ranges_[index_].last, pixel_last);
            addresses_ += high - low + 1;
            if (ranges_[index_].last > pixel_last) break;
        }
        // The window's last pixel may end at the top address, which has no successor.
        at_end_ = pixel_last == window_.last;
        start_ = pixel_last + 1;
    }

private:
    std::span<const range_type> ranges_;
    range_type window_;
    address mask_;
    unsigned pixel_bits_;
    address start_; ///< the lowest address not counted yet
    std::size_t index_ = 0;
    address pixel_ = 0;
    address addresses_ = 0;
    bool at_end_ = false;
    bool done_ = false;
};

} // namespace blockset
