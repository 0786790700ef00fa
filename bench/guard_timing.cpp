// kestrune_timing: render against the ideal kernel and take_events (product_timing.cpp), a render
// through the bridge (bridge_timing.cpp), then what the fault guard adds to one machine call (on
// Windows its floating-point checks included: each side's settings read before and after, and
// those reads alone, timed the same way),
// without Google Benchmark, so that it builds for the Windows flavour too (time it under Wine
// where Wine runs directly; timings taken under emulation say nothing). For the guard it makes the
// same call into the quiet machine, which does nothing, bare and through guarded_machine, in rounds
// of ten million, and prints the median of seven rounds of each.
//
//   kestrune_timing [rounds]      (the quiet machine is bench/quiet_machine.dll beside it)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/bridge_timing.h"
#include "bench/product_timing.h"
#include "calls/guarded_machine.h"
#include "platform/module.h"

namespace {

constexpr long calls_per_round = 10000000;

// Kept where the compiler can't see through it, so that no call is folded away.
kestrune::machine* volatile opaque_target = nullptr;

template <class Loop>
double nanoseconds_per_call(Loop loop) {
    auto start = std::chrono::steady_clock::now();
    loop();
    std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / calls_per_round;
}

// The floating-point reads that a guarded call makes on 32-bit Windows, alone: each side's x87
// control word and MXCSR, and the x87 status word after the call. Natively the guard reads none.
#if defined(_WIN32) && defined(__i386__)
constexpr bool guard_reads_fp = true;
void guard_fp_reads() {
    unsigned short control_before, control_after, status;
    unsigned mxcsr_before, mxcsr_after;
    asm volatile(
        "fnstcw %0\n\tstmxcsr %1\n\tfnstcw %2\n\tstmxcsr %3\n\tfnstsw %%ax\n\tmovw %%ax, %4"
        : "=m"(control_before), "=m"(mxcsr_before), "=m"(control_after), "=m"(mxcsr_after),
          "=m"(status)
        :
        : "eax", "memory");
}
#else
constexpr bool guard_reads_fp = false;
void guard_fp_reads() {}
#endif

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    rounds = rounds < 1 ? 1 : rounds;
    if (!kestrune::bench::print_product_timings(rounds) ||
        !kestrune::bench::print_bridge_timings(rounds)) {
        return 1;
    }
    std::string path = kestrune::bench::quiet_machine_path();
    kestrune::platform::module_handle library = kestrune::platform::load_library(path.c_str());
    auto create = reinterpret_cast<kestrune::create_machine_function>(
        kestrune::platform::find_export(library, kestrune::create_machine_export));
    if (create == nullptr) {
        std::fprintf(stderr, "kestrune_timing: can't load %s\n", path.c_str());
        return 1;
    }
    opaque_target = create();
    std::vector<double> bare, guarded, reads;
    for (int round = 0; round < rounds; ++round) {
        bare.push_back(nanoseconds_per_call([] {
            kestrune::machine* target = opaque_target;
            for (long i = 0; i < calls_per_round; ++i) {
                target->set_parameter(3, static_cast<int>(i));
            }
        }));
        reads.push_back(nanoseconds_per_call([] {
            for (long i = 0; i < calls_per_round; ++i) {
                guard_fp_reads();
            }
        }));
        guarded.push_back(nanoseconds_per_call([] {
            kestrune::guarded_machine calls(opaque_target);
            long returned = 0;
            for (long i = 0; i < calls_per_round; ++i) {
                returned += calls.set_parameter(3, static_cast<int>(i)) ? 1 : 0;
            }
            if (returned != calls_per_round) {
                std::fprintf(stderr, "kestrune_timing: a call faulted\n");
            }
        }));
    }
    double b = kestrune::bench::median_of(bare), g = kestrune::bench::median_of(guarded);
    std::printf("machine call, bare     %7.2f ns\n", b);
    std::printf("machine call, guarded  %7.2f ns\n", g);
    std::printf("the guard adds         %7.2f ns (median of %d rounds of %ld calls)\n", g - b,
                rounds, calls_per_round);
    if (guard_reads_fp) {
        std::printf("floating-point reads   %7.2f ns (the guard's five, alone)\n",
                    kestrune::bench::median_of(reads));
    } else {
        std::printf("floating-point reads      none (natively the guard keeps no settings)\n");
    }
    return 0;
}
