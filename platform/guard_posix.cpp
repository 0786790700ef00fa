// The guard natively is the catch in guard.h alone; the floating-point settings are left to each
// side.
#include "platform/guard.h"

namespace kestrune::platform {

// Natively the floating-point settings are left to each side: nothing is kept.
fp_settings current_fp_settings() {
    return fp_settings{};
}

} // namespace kestrune::platform
