#include "tests/windows/host/session.h"

#include "tests/windows/host/report.h"

namespace session {

host_view::master_info master = {126, 8, 48000, 2857};

namespace {

void append(char* path, int size, const char* tail) {
    int n = report::length(path);
    while (*tail != '\0' && n < size - 1) {
        path[n++] = *tail++;
    }
    path[n] = '\0';
}

// Whether a host of each MSVC release shape finds the same parameters in description's lists:
// the 2012 shape's, pointer for pointer, with every end at or past its last.
template <template <class> class Vector>
bool same_lists(const host_view::info* description) {
    const host_view::list_reading<Vector>* lists = host_view::read_lists<Vector>(description);
    const auto& globals = description->global_params;
    const auto& tracks = description->track_params;
    if (lists->global_params.size() != globals.size() ||
        lists->track_params.size() != tracks.size() || lists->attribute_list.size() != 0 ||
        lists->global_params.end < lists->global_params.last ||
        lists->track_params.end < lists->track_params.last ||
        lists->attribute_list.end < lists->attribute_list.last) {
        return false;
    }
    for (int i = 0; i < globals.size(); ++i) {
        if (lists->global_params.first[i] != globals.first[i]) {
            return false;
        }
    }
    for (int i = 0; i < tracks.size(); ++i) {
        if (lists->track_params.first[i] != tracks.first[i]) {
            return false;
        }
    }
    return true;
}

void check_lists(const host_view::info* description) {
    const auto& globals = description->global_params;
    const auto& tracks = description->track_params;
    report::check(globals.end >= globals.last && tracks.end >= tracks.last &&
                      description->attribute_list.size() == 0 &&
                      description->attribute_list.end >= description->attribute_list.last,
                  "the lists read as MSVC 2012's {first, last, end}");
    report::check(same_lists<host_view::msvc_vector_2005>(description),
                  "the lists read as MSVC 2005's {allocator, first, last, end}: the same");
    report::check(same_lists<host_view::msvc_vector_2010>(description),
                  "the lists read as MSVC 2010's {first, last, end, allocator}: the same");
}

} // namespace

void machine_path(const char* name, char* path, int size) {
    path[0] = '\0';
    const unsigned long n = GetModuleFileNameA(nullptr, path, static_cast<unsigned long>(size - 1));
    path[n] = '\0';
    int cut = static_cast<int>(n);
    while (cut > 0 && path[cut - 1] != '\\') {
        --cut;
    }
    path[cut] = '\0';
    append(path, size, "Gear\\Psycle\\");
    append(path, size, name);
}

bool is_loaded(const char* name) {
    return GetModuleHandleA(name) != nullptr;
}

bool open(library_session& run) {
    run.library = LoadLibraryA("kestrune.dll");
    report::check(run.library != nullptr, "kestrune.dll loads into an MSVC-built host");
    if (run.library == nullptr) {
        report::text("  LoadLibraryA failed with error ");
        report::number(static_cast<int>(GetLastError()));
        report::text("\n");
        return false;
    }
    auto get_signature = reinterpret_cast<host_view::get_signature_function>(
        GetProcAddress(run.library, "zzub_get_signature"));
    auto get_collection = reinterpret_cast<host_view::get_collection_function>(
        GetProcAddress(run.library, "zzub_get_plugincollection"));
    report::check(get_signature != nullptr && get_collection != nullptr,
                  "both exports are found under their plain names");
    if (get_signature == nullptr || get_collection == nullptr) {
        return false;
    }
    // No buzz2zzub.dll beside the library here: the empty text, never null.
    report::check_text(get_signature(), "", "zzub_get_signature without a sibling: empty text");

    run.collection = get_collection();
    report::check(run.collection != nullptr, "zzub_get_plugincollection answers a collection");
    if (run.collection == nullptr) {
        return false;
    }
    report::check(run.collection->collection_uri() == nullptr, "collection_uri is null");
    run.collection->set_option("key", "value");
    run.collection->setup(&run.factory);
    report::check_number(run.factory.count, 1, "setup announces the one machine in Gear\\Psycle");
    for (int i = 0; i < run.factory.count && i < run.factory.capacity; ++i) {
        check_lists(run.factory.infos[i]);
    }
    return run.factory.count == 1;
}

void close(library_session& run, bool abandoned) {
    if (run.collection != nullptr) {
        run.collection->release();
        run.collection = nullptr;
    }
    if (run.library != nullptr) {
        FreeLibrary(run.library);
        run.library = nullptr;
    }
    if (abandoned) {
        report::check(is_loaded("kestrune.dll"),
                      "kestrune.dll stays loaded: the faulted machine keeps its callback");
    } else {
        report::check(!is_loaded("kestrune.dll"), "kestrune.dll is unloaded at the end");
    }
}

} // namespace session
