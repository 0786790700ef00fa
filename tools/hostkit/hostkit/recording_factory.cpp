#include "hostkit/recording_factory.h"

namespace hostkit {

void recording_factory::announce(kestrune::host_info* info) {
    announced.push_back(info);
}

} // namespace hostkit
