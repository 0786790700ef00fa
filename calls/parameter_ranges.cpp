#include "calls/parameter_ranges.h"

namespace kestrune {

int copy_ranges(const machine_description& description, parameter_range* ranges, int capacity) {
    const machine_parameter* const* params = description.params;
    const int described = description.param_count;
    if (params == nullptr || described <= 0 || ranges == nullptr) {
        return 0;
    }
    const int count = described < capacity ? described : capacity;
    for (int i = 0; i < count; ++i) {
        const machine_parameter* entry = params[i];
        parameter_range range;
        if (entry != nullptr) {
            range.lowest = entry->lowest;
            range.highest = entry->highest;
            range.present = true;
        }
        ranges[i] = range;
    }
    return count > 0 ? count : 0;
}

} // namespace kestrune
