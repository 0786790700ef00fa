// check's report as JUnit XML, the format that CI systems read: a test suite per machine
// (and per repetition), a test case per check. A failed check is a failure, a skipped one is
// skipped, and a warning passes with its reason in the case's output.
#pragma once

#include <string>
#include <vector>

#include "check_result.h"

namespace kestrune_host {

// text with &, <, >, " and ' escaped, and control characters other than tab and line feed
// (which XML 1.0 can't carry) as '?'.
std::string xml_escaped(const std::string& text);

std::string check_junit(const std::vector<machine_check>& machines);

} // namespace kestrune_host
