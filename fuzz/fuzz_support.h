// What the fuzz targets share: a failed invariant that stops the run with its reason, and a
// random machine description that owns everything it points to.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "machine/machine_interface.h"

// An invariant of the code under test: when it fails, libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace kestrune::fuzz {

// An integer that is often one of the values where range rules change, else any value.
inline int edge_or_any(FuzzedDataProvider& in) {
    static const int edges[] = {
        0,      1,     2,     254,   255,    256,  -1,  32767,           32768,
        -32768, 65534, 65535, 65536, 100000, -100, 100, -2147483647 - 1, 2147483647};
    if (in.ConsumeBool()) {
        return edges[in.ConsumeIntegralInRange<std::size_t>(0, sizeof edges / sizeof *edges - 1)];
    }
    return in.ConsumeIntegral<int>();
}

// A machine description made from fuzz input. Texts may be null, may hold any bytes, and
// titles may be longer than a host allows; entries of params may be null; param_count may be
// negative or zero while params is set, and params may be null while param_count isn't.
class random_description {
public:
    explicit random_description(FuzzedDataProvider& in, int most_params = 96) {
        description.api_version = in.ConsumeIntegral<int>();
        description.kind_flags = in.ConsumeBool() ? 3 : edge_or_any(in);
        description.full_name = maybe_text(in, 300);
        description.short_label = maybe_text(in, 40);
        description.author = maybe_text(in, 40);
        description.command_text = maybe_text(in, 100);
        description.column_count = in.ConsumeIntegral<int>();

        const int count = in.ConsumeIntegralInRange<int>(0, most_params);
        params.resize(static_cast<std::size_t>(count));
        list.resize(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            machine_parameter& p = params[static_cast<std::size_t>(i)];
            p.title = maybe_text(in, 64);
            p.caption = maybe_text(in, 64);
            p.lowest = edge_or_any(in);
            if (in.ConsumeBool()) {
                const long long near =
                    static_cast<long long>(p.lowest) + in.ConsumeIntegralInRange<int>(0, 300);
                p.highest = static_cast<int>(near > 2147483647 ? 2147483647 : near);
            } else {
                p.highest = edge_or_any(in);
            }
            if (p.lowest > 0 && p.highest < p.lowest && in.ConsumeBool()) {
                p.highest = p.lowest; // an empty range now and then
            }
            p.flags = in.ConsumeBool() ? 2 : in.ConsumeIntegral<int>();
            p.default_value = edge_or_any(in);
            list[static_cast<std::size_t>(i)] =
                in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : &p;
        }
        description.params =
            list.empty() || in.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : list.data();
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            description.param_count = -count;
            break;
        case 1:
            description.param_count = 0;
            break;
        default:
            description.param_count = description.params != nullptr ? count : 0;
        }
    }
    random_description(const random_description&) = delete;
    random_description& operator=(const random_description&) = delete;

    // The parameters that a conversion reads: param_count when it is positive and params set.
    int used_count() const {
        return description.params != nullptr && description.param_count > 0
                   ? description.param_count
                   : 0;
    }

    machine_description description{};
    std::vector<machine_parameter> params;
    std::vector<const machine_parameter*> list;

private:
    const char* maybe_text(FuzzedDataProvider& in, std::size_t longest) {
        if (in.ConsumeIntegralInRange<int>(0, 15) == 0) {
            return nullptr;
        }
        texts.push_back(in.ConsumeRandomLengthString(longest));
        return texts.back().c_str();
    }
    std::deque<std::string> texts; // a deque: the texts stay where they are as it grows
};

} // namespace kestrune::fuzz
