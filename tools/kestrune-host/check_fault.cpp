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

std::string fault_of(kestrune::host_plugin& plugin) {
    box_reader boxes(false);
    plugin.run_command(1);
    return faulted_call(boxes.finish());
}

} // namespace kestrune_host
