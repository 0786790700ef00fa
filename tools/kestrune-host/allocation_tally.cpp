// The count itself, the same on every system: the counting functions that each system's
// allocation_count file puts into a machine's imports note each call here.
#include <atomic>

#include "allocation_count.h"

namespace kestrune_host {

namespace {

std::atomic<bool> counting{false};
std::atomic<long long> counted{0};

} // namespace

void note_allocation() noexcept {
    if (counting.load(std::memory_order_relaxed)) {
        counted.fetch_add(1, std::memory_order_relaxed);
    }
}

void allocation_counter::start() {
    counted = 0;
    counting = true;
}

void allocation_counter::stop() {
    counting = false;
}

long long allocation_counter::count() const {
    return counted.load();
}

} // namespace kestrune_host
