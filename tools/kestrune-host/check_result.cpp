#include "check_result.h"

namespace kestrune_host {

const char* verdict_name(verdict v) {
    switch (v) {
    case verdict::pass:
        return "pass";
    case verdict::skip:
        return "skip";
    case verdict::warn:
        return "warn";
    case verdict::fail:
        return "fail";
    }
    return "?";
}

verdict machine_verdict(const machine_check& machine) {
    verdict worst = verdict::pass;
    for (const check_row& row : machine.rows) {
        worst = row.result > worst ? row.result : worst;
    }
    return worst;
}

int check_exit_code(const std::vector<machine_check>& machines) {
    if (machines.empty()) {
        return 1;
    }
    for (const machine_check& machine : machines) {
        if (machine_verdict(machine) == verdict::fail) {
            return 1;
        }
    }
    return 0;
}

} // namespace kestrune_host
