// The library's two exports, the only names in its export table. The host looks them up by
// these undecorated names and calls them without arguments (cdecl).
#include <new>

#include "host/machine_collection.h"
#include "host/signature.h"

#if defined(_WIN32)
#define KESTRUNE_EXPORT extern "C" // exported by name through kestrune.def
#else
#define KESTRUNE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The host's interface signature, as the host's own "buzz2zzub.dll" beside this library
// reports it; the empty text when there is none (yet). The buffer lives as long as the library.
KESTRUNE_EXPORT const char* zzub_get_signature() noexcept {
    return kestrune::signature_text();
}

// A new collection, owned by the host until its release; null when memory is short.
KESTRUNE_EXPORT kestrune::host_collection* zzub_get_plugincollection() noexcept {
    return new (std::nothrow) kestrune::machine_collection;
}
