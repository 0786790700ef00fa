#include "check_junit.h"

namespace kestrune_host {

std::string xml_escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            bool control = static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n';
            out += control ? '?' : c;
        }
    }
    return out;
}

std::string check_junit(const std::vector<machine_check>& machines) {
    int tests = 0;
    int failures = 0;
    int skipped = 0;
    std::string suites;
    for (const machine_check& machine : machines) {
        int machine_failures = 0;
        int machine_skipped = 0;
        std::string cases;
        std::string suite_name = xml_escaped(machine.name) + " (level " +
                                 std::to_string(machine.level) + ", seed " +
                                 std::to_string(machine.seed) + ")";
        for (const check_row& row : machine.rows) {
            cases += "    <testcase classname=\"" + xml_escaped(machine.name) + "\" name=\"" +
                     xml_escaped(row.name) + "\"";
            std::string reason = xml_escaped(row.reason);
            switch (row.result) {
            case verdict::pass:
                cases += "/>\n";
                break;
            case verdict::warn:
                cases +=
                    ">\n      <system-out>warn: " + reason + "</system-out>\n    </testcase>\n";
                break;
            case verdict::skip:
                ++machine_skipped;
                cases += ">\n      <skipped message=\"" + reason + "\"/>\n    </testcase>\n";
                break;
            case verdict::fail:
                ++machine_failures;
                cases += ">\n      <failure message=\"" + reason + "\"/>\n    </testcase>\n";
                break;
            }
        }
        int count = static_cast<int>(machine.rows.size());
        suites += "  <testsuite name=\"" + suite_name;
        suites += "\" tests=\"" + std::to_string(count);
        suites += "\" failures=\"" + std::to_string(machine_failures);
        suites += "\" skipped=\"" + std::to_string(machine_skipped) + "\">\n";
        suites += cases;
        suites += "  </testsuite>\n";
        tests += count;
        failures += machine_failures;
        skipped += machine_skipped;
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"kestrune-host check\" "
           "tests=\"" +
           std::to_string(tests) + "\" failures=\"" + std::to_string(failures) + "\" skipped=\"" +
           std::to_string(skipped) + "\">\n" + suites + "</testsuites>\n";
}

} // namespace kestrune_host
