#include "listing.h"

#include <algorithm>

#include "hostkit/describe.h"

namespace kestrune_host {

namespace {

std::string text_of(const char* text) {
    return text != nullptr ? text : "";
}

// A name on one line: line feeds, tabs and backslashes as escapes.
std::string shown(const char* text) {
    return text != nullptr ? hostkit::escape_text(text) : "(none)";
}

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string parameter_table(kestrune::param_list params) {
    struct row {
        std::string cells[8];
    };
    std::vector<row> rows;
    rows.push_back({{"#", "title", "kind", "range", "default", "empty", "flags", "caption"}});
    for (std::size_t i = 0; i < params.size(); ++i) {
        const kestrune::host_parameter* p = params[i];
        if (p == nullptr) {
            rows.push_back({{std::to_string(i), "(missing)", "", "", "", "", "", ""}});
            continue;
        }
        rows.push_back({{std::to_string(i), shown(p->title), parameter_kind_name(p->kind),
                         std::to_string(p->lowest) + ".." + std::to_string(p->highest),
                         std::to_string(p->default_value), std::to_string(p->empty_value),
                         std::to_string(p->flags), shown(p->caption)}});
    }
    std::size_t width[8] = {};
    for (const row& r : rows) {
        for (int c = 0; c < 8; ++c) {
            width[c] = std::max(width[c], r.cells[c].size() + 2);
        }
    }
    std::string out;
    for (const row& r : rows) {
        std::string line = "    ";
        for (int c = 0; c < 7; ++c) {
            line += padded(r.cells[c], width[c]);
        }
        line += r.cells[7];
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out += line + "\n";
    }
    return out;
}

nlohmann::ordered_json parameters_json(kestrune::param_list params) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < params.size(); ++i) {
        const kestrune::host_parameter* p = params[i];
        if (p == nullptr) {
            list.push_back(nullptr);
            continue;
        }
        list.push_back({{"index", i},
                        {"title", text_of(p->title)},
                        {"caption", text_of(p->caption)},
                        {"kind", parameter_kind_name(p->kind)},
                        {"kind_code", p->kind},
                        {"lowest", p->lowest},
                        {"highest", p->highest},
                        {"default", p->default_value},
                        {"empty", p->empty_value},
                        {"flags", p->flags}});
    }
    return list;
}

} // namespace

std::string machine_kind_name(int kind) {
    switch (kind) {
    case 1:
        return "generator";
    case 2:
        return "effect";
    default:
        return "kind " + std::to_string(kind);
    }
}

std::string parameter_kind_name(int kind) {
    static const char* const names[] = {"note", "switch", "byte", "word"};
    return kind >= 0 && kind <= 3 ? names[kind] : "kind " + std::to_string(kind);
}

std::vector<std::string> command_entries(const char* command_list) {
    std::vector<std::string> entries;
    if (command_list == nullptr) {
        return entries;
    }
    std::string entry;
    for (const char* c = command_list;; ++c) {
        if (*c == '\n' || *c == '\0') {
            entries.push_back(entry);
            entry.clear();
            if (*c == '\0') {
                break;
            }
        } else {
            entry += *c;
        }
    }
    return entries;
}

std::string machine_text(const kestrune::host_info& info, std::size_t index) {
    std::string out = "#" + std::to_string(index) + "  " + shown(info.full_name) + "\n";
    out += "    kind      " + machine_kind_name(info.kind) + "\n";
    out += "    label     " + shown(info.short_label) + "\n";
    out += "    author    " + shown(info.author) + "\n";
    out += "    uri       " + shown(info.identity_uri) + "\n";
    if (info.kind == 1 || info.most_tracks > 0) {
        out += "    tracks    " + std::to_string(info.fewest_tracks) + " to " +
               std::to_string(info.most_tracks) + "\n";
    }
    std::vector<std::string> commands = command_entries(info.command_list);
    if (commands.empty()) {
        out += "    commands  (none)\n";
    }
    for (std::size_t i = 0; i < commands.size(); ++i) {
        out += std::string(i == 0 ? "    commands  " : "              ") + std::to_string(i) +
               ": " + hostkit::escape_text(commands[i].c_str()) + "\n";
    }
    out += "  global parameters";
    if (info.global_params().empty()) {
        out += ": none\n";
    } else {
        out += "\n" + parameter_table(info.global_params());
    }
    out += "  track parameters";
    if (info.track_params().empty()) {
        out += ": none\n";
    } else {
        out += "\n" + parameter_table(info.track_params());
    }
    return out;
}

nlohmann::ordered_json machine_json(const kestrune::host_info& info, std::size_t index) {
    nlohmann::ordered_json commands = nlohmann::ordered_json::array();
    for (const std::string& entry : command_entries(info.command_list)) {
        commands.push_back(entry);
    }
    return {{"index", index},
            {"full_name", text_of(info.full_name)},
            {"kind", machine_kind_name(info.kind)},
            {"kind_code", info.kind},
            {"short_label", text_of(info.short_label)},
            {"author", text_of(info.author)},
            {"identity_uri", text_of(info.identity_uri)},
            {"interface_version", info.interface_version},
            {"flags", info.flags},
            {"fewest_tracks", info.fewest_tracks},
            {"most_tracks", info.most_tracks},
            {"commands", commands},
            {"global_parameters", parameters_json(info.global_params())},
            {"track_parameters", parameters_json(info.track_params())}};
}

std::string json_text(const nlohmann::ordered_json& value) {
    return value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace kestrune_host
