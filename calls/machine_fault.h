// Where and how a machine faulted: what the guard records and the About box tells.
#pragma once

namespace kestrune {

struct machine_fault {
    const char* call = nullptr; // the machine call that raised, e.g. "render_block"; null: none
    unsigned code = 0;          // what it raised: a Windows exception code; natively always
                                // platform::cxx_exception_code. Unused for the two causes below.
    // Causes that only a machine in a bridge process of its own can have:
    int deadline_seconds = 0;   // > 0: the call gave no answer within this many seconds, and its
                                // process was ended
    bool process_ended = false; // the bridge process ended during the call...
    int exit_code = 0;          // ...with this code (128 plus the signal for a signal natively)
    bool bad_answer = false;    // the bridge answered the call with a value out of its range,
                                // and its process was ended
};

} // namespace kestrune
