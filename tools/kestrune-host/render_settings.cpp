#include "render_settings.h"

#include <algorithm>

#include "choose.h"
#include "commands.h"
#include "value_lookup.h"

namespace kestrune_host {

namespace {

// "PARAM=VALUE" after option, split and its parameter found.
struct named_value {
    int index = 0;
    const kestrune::host_parameter* parameter = nullptr;
    std::string value;
};

std::optional<named_value> read_setting(const kestrune::host_info& info, const std::string& option,
                                        const std::string& text, std::string& error) {
    named_value out;
    std::string param;
    if (!split_setting(text, param, out.value)) {
        error = option + " takes PARAM=VALUE, not \"" + text + "\"";
        return std::nullopt;
    }
    auto index = choose_parameter(info, param, error);
    if (!index) {
        return std::nullopt;
    }
    out.index = *index;
    out.parameter = info.global_params()[static_cast<std::size_t>(*index)];
    return out;
}

// "parameter 3 (Cutoff)"
std::string parameter_text(const named_value& named) {
    const char* title = named.parameter->title;
    return "parameter " + std::to_string(named.index) + " (" + (title != nullptr ? title : "") +
           ")";
}

} // namespace

std::optional<setting> host_setting(const kestrune::host_info& info, const std::string& text,
                                    std::string& error) {
    auto named = read_setting(info, "--set", text, error);
    if (!named) {
        return std::nullopt;
    }
    auto number = parse_integer(named->value);
    int lo = std::min(named->parameter->lowest, named->parameter->highest);
    int hi = std::max(named->parameter->lowest, named->parameter->highest);
    if (!number) {
        error = "--set " + text + ": \"" + named->value +
                "\" is not a whole number (for the machine's own values and texts, use --value)";
        return std::nullopt;
    }
    if (*number < lo || *number > hi) {
        error = "--set " + text + ": " + parameter_text(*named) + " takes host values " +
                std::to_string(lo) + " to " + std::to_string(hi);
        return std::nullopt;
    }
    return setting{named->index, static_cast<int>(*number)};
}

std::optional<setting> machine_setting(kestrune::host_plugin& plugin,
                                       const kestrune::host_info& info, const std::string& text,
                                       bool quiet, std::string& error) {
    auto named = read_setting(info, "--value", text, error);
    if (!named) {
        return std::nullopt;
    }
    auto text_of = [&plugin, i = named->index](int v) {
        const char* t = plugin.value_text(i, v);
        return std::string(t != nullptr ? t : "");
    };
    std::string examples;
    auto match = find_value(named->parameter->lowest, named->parameter->highest, text_of,
                            named->value, examples);
    if (!match) {
        error = "--value " + text + ": " + parameter_text(*named) + " has no value \"" +
                named->value + "\"; its values read " + examples;
        return std::nullopt;
    }
    if (!match->exact && !quiet) {
        warn("--value " + text + ": the nearest value is \"" + match->text + "\" (host value " +
             std::to_string(match->host_value) + ")");
    }
    return setting{named->index, match->host_value};
}

} // namespace kestrune_host
