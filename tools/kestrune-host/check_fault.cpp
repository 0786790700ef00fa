#include "check_fault.h"

#include "message_boxes.h"

namespace kestrune_host {

std::string faulted_call(const std::string& about_text) {
    const std::string mark = "\n\nFaulted:\t";
    std::size_t at = about_text.rfind(mark);
    if (at == std::string::npos) {
        return "";
    }
    std::string line = about_text.substr(at + mark.size());
    // A box read from standard error ends with the line feed written after it.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line.find('\n') == std::string::npos ? line : "";
}

std::string machine_path(const std::string& about_text) {
    const std::string mark = "\nPath:\t";
    std::size_t at = about_text.find(mark);
    if (at == std::string::npos) {
        return "";
    }
    std::size_t from = about_text.find_first_not_of('\t', at + mark.size());
    std::size_t end = about_text.find('\n', at + mark.size());
    return from == std::string::npos || from > end ? "" : about_text.substr(from, end - from);
}

std::string about_text(kestrune::host_plugin& plugin) {
    box_reader boxes(false);
    plugin.run_command(1);
    return boxes.finish();
}

std::string fault_of(kestrune::host_plugin& plugin) {
    return faulted_call(about_text(plugin));
}

} // namespace kestrune_host
