#include "value_areas.h"

#include <cstring>

namespace kestrune_host {

int value_width(int kind) {
    if (kind >= 0 && kind <= 2) {
        return 1;
    }
    return kind == 3 ? 2 : 0;
}

int global_area_size(const parameter_list& params) {
    int total = 0;
    for (const kestrune::host_parameter* p : params) {
        int width = p != nullptr ? value_width(p->kind) : 0;
        if (width == 0) {
            return -1;
        }
        total += width;
    }
    return total;
}

int global_offset(const parameter_list& params, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= params.size() ||
        global_area_size(params) < 0) {
        return -1;
    }
    int offset = 0;
    for (int i = 0; i < index; ++i) {
        offset += value_width(params[static_cast<std::size_t>(i)]->kind);
    }
    return offset;
}

void write_empty_globals(const parameter_list& params, unsigned char* area) {
    if (area == nullptr || global_area_size(params) < 0) {
        return;
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        write_global(params, static_cast<int>(i), params[i]->empty_value, area);
    }
}

bool write_global(const parameter_list& params, int index, int value, unsigned char* area) {
    int offset = global_offset(params, index);
    if (area == nullptr || offset < 0) {
        return false;
    }
    auto bits = static_cast<unsigned>(value);
    area[offset] = static_cast<unsigned char>(bits & 0xff);
    if (params[static_cast<std::size_t>(index)]->kind == 3) {
        area[offset + 1] = static_cast<unsigned char>((bits >> 8) & 0xff);
    }
    return true;
}

void write_track(unsigned char* area, int track, unsigned char note, unsigned command) {
    if (area == nullptr || track < 0) {
        return;
    }
    unsigned char* record = area + static_cast<std::size_t>(track) * track_record_size;
    record[0] = note;
    record[1] = static_cast<unsigned char>(command & 0xff);
    record[2] = static_cast<unsigned char>((command >> 8) & 0xff);
}

void clear_tracks(unsigned char* area, int count) {
    if (area != nullptr && count > 0) {
        std::memset(area, 0, static_cast<std::size_t>(count) * track_record_size);
    }
}

} // namespace kestrune_host
