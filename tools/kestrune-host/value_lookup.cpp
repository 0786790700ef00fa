#include "value_lookup.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace kestrune_host {

namespace {

std::string normalized(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) {
        ++first;
    }
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) {
        --last;
    }
    std::string out;
    for (std::size_t i = first; i < last; ++i) {
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    }
    return out;
}

} // namespace

std::optional<double> leading_number(const std::string& text) {
    const char* start = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*start))) {
        ++start;
    }
    char* end = nullptr;
    double value = std::strtod(start, &end);
    if (end == start || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<value_match> find_value(int lo, int hi,
                                      const std::function<std::string(int)>& text_of,
                                      const std::string& wanted, std::string& examples) {
    if (lo > hi) {
        std::swap(lo, hi);
    }
    std::string target = normalized(wanted);
    std::optional<double> target_number = leading_number(wanted);
    std::optional<value_match> nearest;
    double nearest_distance = 0.0;
    int shown = 0;
    std::string last_text;
    examples.clear();
    for (long long v = lo; v <= hi; ++v) {
        std::string text = text_of(static_cast<int>(v));
        if (normalized(text) == target) {
            return value_match{static_cast<int>(v), text, true};
        }
        if (shown < 4) {
            examples += (examples.empty() ? "\"" : ", \"") + text + "\"";
            ++shown;
        }
        last_text = text;
        if (!target_number) {
            continue;
        }
        std::optional<double> number = leading_number(text);
        if (!number) {
            continue;
        }
        double distance = std::fabs(*number - *target_number);
        if (!nearest || distance < nearest_distance) {
            // The same number counts as the value asked for: "2000" is "2000 Hz".
            nearest = value_match{static_cast<int>(v), text, distance == 0.0};
            nearest_distance = distance;
        }
    }
    if (static_cast<long long>(hi) - lo >= 4) {
        examples += std::string(static_cast<long long>(hi) - lo > 4 ? ", ..." : "") + ", \"" +
                    last_text + "\"";
    }
    return nearest;
}

} // namespace kestrune_host
