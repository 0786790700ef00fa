#include "calls/guarded_machine.h"

#include "platform/guard.h"

namespace kestrune {

bool guarded_machine::create(create_machine_function export_function,
                             machine_host_callback* callback) {
    kestrune::machine* created = nullptr;
    auto call = [&] {
        created = export_function();
        if (created != nullptr) {
            created->callback = callback;
        }
    };
    if (!guard("CreateMachine", call)) {
        return false; // whatever it made by then is abandoned with its DLL
    }
    target = created;
    return true;
}

bool guarded_machine::bridged(bool answered) {
    if (!answered && bridge->fault().call != nullptr) {
        fault = bridge->fault();
        bridge = nullptr;
    }
    return answered;
}

void guarded_machine::destroy(delete_machine_function delete_export) {
    if (target == nullptr) {
        return;
    }
    kestrune::machine* doomed = target;
    target = nullptr;
    auto call = [&] {
        if (delete_export != nullptr) {
            delete_export(doomed);
        } else {
            destroy_through_destructor(doomed);
        }
    };
    platform::guarded_call(platform::catching_call<decltype(call)>, &call, nullptr,
                           &fp); // raised: discarded
}

} // namespace kestrune
