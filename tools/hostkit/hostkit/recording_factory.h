// A host_factory that keeps every description announced to it, in order.
#pragma once

#include <vector>

#include "host/host_interface.h"

namespace hostkit {

class recording_factory final : public kestrune::host_factory {
public:
    void announce(kestrune::host_info* info) override;

    // Borrowed from the collection: valid until its release.
    std::vector<kestrune::host_info*> announced;
};

} // namespace hostkit
