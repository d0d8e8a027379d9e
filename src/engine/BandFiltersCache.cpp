#include "engine/BandFiltersCache.h"

#include <algorithm>

namespace lumetra {

BandFiltersCache::BandFiltersCache(std::size_t capacity)
    : _capacity(std::max<std::size_t>(capacity, 1)) {}

std::shared_ptr<const BandFilters> BandFiltersCache::filters(std::uint32_t rows, std::uint32_t cols,
                                                             double pixelsPerDegree) {
    std::shared_ptr<Slot> slot;
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto held = std::find_if(_entries.begin(), _entries.end(), [&](const Entry& e) {
            return e.rows == rows && e.cols == cols && e.pixelsPerDegree == pixelsPerDegree;
        });
        if (held != _entries.end()) {
            _entries.splice(_entries.begin(), _entries, held);
        } else {
            _entries.push_front(Entry{rows, cols, pixelsPerDegree, std::make_shared<Slot>()});
            if (_entries.size() > _capacity) _entries.pop_back();
        }
        slot = _entries.front().slot;
    }
    // Made once, outside the lock; a failure leaves the slot empty for the next caller.
    tbb::collaborative_call_once(slot->once, [&] {
        slot->filters = std::make_shared<const BandFilters>(rows, cols, pixelsPerDegree);
    });
    return slot->filters;
}

std::size_t BandFiltersCache::size() const {
    const std::lock_guard<std::mutex> lock(_mutex);
    return _entries.size();
}

}  // namespace lumetra
