// kestrune-bridge: runs one machine, for one instance of Kestrune whose machine is isolated, in a
// process of its own. Kestrune starts it beside itself with the machine DLL's path and the size
// of the block it shares with it, the host's executable folder (where the machine's DLLs are
// looked for first, as in the host's process), and the handles it hands it; it is no program to
// start by hand.
//   kestrune-bridge <machine DLL path> <block size in bytes> <host folder> <handles>
// Started with --scan in place of the path, it is the scanner of Kestrune's folder scan instead,
// which probes DLL after DLL for it (host/scan_server.h).
#include <cstdlib>
#include <cstring>

#include "calls/bridge_server.h"
#include "host/scan_protocol.h"
#include "host/scan_server.h"

int main(int argc, char** argv) {
    if (argc != 5 || argv[1][0] == '\0' || argv[2][0] < '0' || argv[2][0] > '9') {
        return 2;
    }
    char* end = nullptr;
    unsigned long long size = std::strtoull(argv[2], &end, 10);
    if (*end != '\0' || size == 0 || size > 0xFFFFFFFFull) {
        return 2;
    }
    if (std::strcmp(argv[1], kestrune::scan::scan_argument) == 0) {
        return kestrune::serve_scan(static_cast<std::size_t>(size), argv[3], argv[4]);
    }
    return kestrune::serve_bridge(argv[1], static_cast<std::size_t>(size), argv[3], argv[4]);
}
