#include "ranges/list_comparison.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "ranges/cidr_walk.h"

namespace blockset {

namespace {

/// Where the sweep stops next for one list: before the first address of its current range
/// (a start), or after the last (an end). At one address, starts come before ends.
template <class address>
struct sweep_event {
    address at;
    bool is_end;
    std::size_t list;
    bool operator<(const sweep_event& other) const
    {
        return at != other.at ? at < other.at : !is_end && other.is_end;
    }
};

/// A binary heap of the next event of every list that has one, earliest on top.
template <class address>
class event_heap {
public:
    bool empty() const { return events_.empty(); }
    const sweep_event<address>& top() const { return events_.front(); }
    void push(sweep_event<address> event)
    {
        events_.push_back(event);
        std::size_t i = events_.size() - 1;
        while (i > 0 && events_[i] < events_[(i - 1) / 2]) {
            std::swap(events_[i], events_[(i - 1) / 2]);
            i = (i - 1) / 2;
        }
    }
    /// Puts event where the top was: the one step a list takes from one event to its next.
    void replace_top(sweep_event<address> event)
    {
        events_.front() = event;
        sift_down();
    }
    void pop()
    {
        events_.front() = events_.back();
        events_.pop_back();
        sift_down();
    }

private:
    void sift_down()
    {
        std::size_t i = 0;
        for (;;) {
            std::size_t least = i;
            std::size_t left = 2 * i + 1;
            if (left < events_.size() && events_[left] < events_[least]) least = left;
            if (left + 1 < events_.size() && events_[left + 1] < events_[least]) least = left + 1;
            if (least == i) return;
            std::swap(events_[i], events_[least]);
            i = least;
        }
    }
    std::vector<sweep_event<address>> events_;
};

/// A count of addresses in disjoint pieces, kept cheaply for the sweep's inner loop: the sum of
/// each piece's size less one, which never passes the top address, and the number of pieces.
template <class address>
struct piece_count {
    // An IPv4 sum of sizes may reach 2^32, which the address type cannot hold.
    using sum = std::conditional_t<sizeof(address) < sizeof(std::uint64_t), std::uint64_t, address>;
    sum spread = 0;
    std::uint64_t pieces = 0;
    void add(address first, address last)
    {
        spread += last - first;
        ++pieces;
    }
    address_count total() const
    {
        address_count count;
        count.low = spread;
        count.add(address_count{pieces, false});
        return count;
    }
};

/// The sweep over N lists of one family. Between two events the same lists hold every
/// address; each stretch is counted once, for the one list that holds it alone or for the
/// union. Two ranges of different lists are counted as shared when the first of them ends,
/// against every range still open then.
template <class range>
class list_sweep {
    using address = decltype(range::first);

public:
    explicit list_sweep(std::span<const std::span<const range>> lists) : lists_(lists), cursor_(lists.size(), 0)
    {
        std::size_t n = lists.size();
        result_.ranges.resize(n);
        result_.blocks.resize(n, 0);
        result_.addresses.resize(n);
        result_.only_here.resize(n);
        result_.common.resize(n * n);
        open_first_.resize(n);
        only_here_.resize(n);
        shared_.resize(n * n);
    }

    list_comparison run()
    {
        for (std::size_t i = 0; i < lists_.size(); ++i) {
            result_.ranges[i] = lists_[i].size();
            for_each_cidr_block<range>(lists_[i], [this, i](address, unsigned) { ++result_.blocks[i]; });
            for (const range& item : lists_[i]) result_.addresses[i].add(item.first, item.last);
            result_.common[i * lists_.size() + i] = result_.addresses[i];
            if (!lists_[i].empty()) events_.push({lists_[i].front().first, false, i});
        }
        while (!events_.empty()) {
            sweep_event<address> event = events_.top();
            if (event.is_end) {
                close(event);
            } else {
                open(event);
            }
        }
        if (union_open_) finish_union_range();
        std::size_t n = lists_.size();
        for (std::size_t i = 0; i < n; ++i) {
            result_.only_here[i] = only_here_[i].total();
            for (std::size_t j = i + 1; j < n; ++j)
                result_.common[i * n + j] = result_.common[j * n + i] = shared_[i * n + j].total();
        }
        result_.union_addresses = union_addresses_.total();
        return std::move(result_);
    }

private:
    /// Counts the addresses from the sweep's position to last for the lists open now.
    void count_up_to(address last)
    {
        if (!passed_top_ && position_ <= last && !open_.empty()) {
            if (open_.size() == 1) only_here_[open_.front()].add(position_, last);
            union_addresses_.add(position_, last);
        }
    }

    static constexpr address top = static_cast<address>(~address{0});

    void open(const sweep_event<address>& event)
    {
        if (event.at > position_) count_up_to(event.at - 1);
        position_ = event.at;
        passed_top_ = false;
        const range& item = lists_[event.list][cursor_[event.list]];
        if (open_.empty()) {
            // A union range that ended just before this one goes on.
            bool goes_on = union_open_ && union_range_.last != top && union_range_.last + 1 == item.first;
            if (!goes_on) {
                if (union_open_) finish_union_range();
                union_range_.first = item.first;
                union_open_ = true;
            }
        }
        open_.push_back(event.list);
        open_first_[event.list] = item.first;
        events_.replace_top({item.last, true, event.list});
    }

    void close(const sweep_event<address>& event)
    {
        count_up_to(event.at);
        passed_top_ = event.at == top;
        position_ = static_cast<address>(event.at + 1);
        std::size_t i = event.list;
        std::size_t n = lists_.size();
        open_.erase(std::find(open_.begin(), open_.end(), i));
        // Each pair is kept once, the lower list first.
        for (std::size_t j : open_)
            shared_[std::min(i, j) * n + std::max(i, j)].add(std::max(open_first_[i], open_first_[j]), event.at);
        if (open_.empty()) union_range_.last = event.at;
        if (++cursor_[i] < lists_[i].size()) {
            events_.replace_top({lists_[i][cursor_[i]].first, false, i});
        } else {
            events_.pop();
        }
    }

    void finish_union_range()
    {
        ++result_.union_ranges;
        range item{union_range_.first, union_range_.last};
        for_each_cidr_block<range>(std::span<const range>(&item, 1),
                                   [this](address, unsigned) { ++result_.union_blocks; });
    }

    std::span<const std::span<const range>> lists_;
    std::vector<std::size_t> cursor_;
    std::vector<address> open_first_; ///< per open list: the first address of its open range
    std::vector<std::size_t> open_;   ///< the lists whose current range holds the position
    event_heap<address> events_;
    address position_ = 0; ///< the first address not counted yet
    bool passed_top_ = false; ///< every address is counted
    range union_range_{};
    bool union_open_ = false;
    std::vector<piece_count<address>> only_here_;
    std::vector<piece_count<address>> shared_; ///< lists x lists, of the pairs i < j only
    piece_count<address> union_addresses_;
    list_comparison result_;
};

} // namespace

list_comparison compare_ipv4_lists(std::span<const std::span<const ip_range>> lists)
{
    return list_sweep<ip_range>(lists).run();
}

list_comparison compare_ipv6_lists(std::span<const std::span<const ipv6_range>> lists)
{
    return list_sweep<ipv6_range>(lists).run();
}

} // namespace blockset
