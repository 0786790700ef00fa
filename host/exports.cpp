// The library's entry points: its two exports, the only names in its export table, and its DLL
// entry. This is the module's own file, not the host layer's: it joins the host layer and the
// runtime, which know nothing of each other, by handing the collection the runtime's way of
// making instances. The host looks the exports up by these undecorated names and calls them
// without arguments (cdecl).
#include <new>

#include "host/machine_collection.h"
#include "host/signature.h"
#include "platform/module.h"
#include "runtime/machine_plugin.h"

#if defined(_WIN32)
#define KESTRUNE_EXPORT extern "C" // exported by name through kestrune.def

// The DLL entry (BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)). It runs under the loader
// lock: it records the handle through on_attach and does nothing else.
extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void* reserved) {
    return kestrune::on_attach(instance, reason, reserved);
}
#else
#define KESTRUNE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
// Stands in for the DLL entry's process attach: hands on_attach this module's handle when the
// module is loaded.
__attribute__((constructor)) void process_attach() {
    kestrune::on_attach(
        kestrune::platform::module_containing(reinterpret_cast<const void*>(&process_attach)), 1,
        nullptr);
}
} // namespace
#endif

// The host's interface signature, as the host's own "buzz2zzub.dll" beside this library
// reports it; the empty text when there is none (yet). The buffer lives as long as the library.
// Both exports are noexcept: nothing may unwind into the host.
KESTRUNE_EXPORT const char* zzub_get_signature() noexcept {
    return kestrune::signature_text();
}

// A new collection, owned by the host until its release; null when memory is short. Its
// descriptions make their instances with the runtime.
KESTRUNE_EXPORT kestrune::host_collection* zzub_get_plugincollection() noexcept {
    return new (std::nothrow) kestrune::machine_collection(kestrune::make_machine_plugin);
}
