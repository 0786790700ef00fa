// The machine's parameter ranges, copied from its description when it is loaded, in process or
// in a bridge, so that events and value texts never read the machine's memory again.
#pragma once

#include "machine/machine_interface.h"

namespace kestrune {

// One machine parameter's range.
struct parameter_range {
    int lowest = 0;
    int highest = 0;
    bool present = false; // false: the machine's entry was null, and the parameter isn't reached
};

// Copies the ranges of the machine's first parameters, as many as it describes and at most
// capacity, into ranges, and answers how many it copied (none for null params or a count that
// isn't positive). It reads the machine's memory, so it runs inside the guard; every entry is
// read into locals before it is written.
int copy_ranges(const machine_description& description, parameter_range* ranges, int capacity);

} // namespace kestrune
