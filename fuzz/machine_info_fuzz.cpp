// Description conversion of random machine descriptions. Whatever a machine declares, the host
// must get parameters it can store: lowest >= 0 and highest <= 65534, an empty value that is
// never a valid value, titles and captions of at most 31 characters, and global parameter i
// standing for machine parameter i.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "machine/machine_info.h"

namespace {

using kestrune::host_parameter;

bool valid(const host_parameter& p, int value) {
    return p.lowest <= value && value <= p.highest;
}

void check_parameter(const host_parameter& p, const kestrune::machine_parameter* own,
                     const kestrune::param_name_record& names) {
    FUZZ_CHECK(p.lowest >= 0);
    FUZZ_CHECK(p.highest <= 65534);
    FUZZ_CHECK(!valid(p, p.empty_value));
    if (p.kind == 1 || p.kind == 2) {
        FUZZ_CHECK(p.empty_value == 255 && p.highest <= 254);
        FUZZ_CHECK(p.kind == 2 || p.highest <= 1);
    } else {
        FUZZ_CHECK(p.kind == 3 && p.empty_value == 65535 && p.highest >= 255);
    }
    FUZZ_CHECK(p.title == names.title && p.caption == names.caption);
    FUZZ_CHECK(std::strlen(p.title) <= 31 && std::strlen(p.caption) <= 31);
    const char* title = own != nullptr && own->title != nullptr ? own->title : "";
    const char* caption = own != nullptr && own->caption != nullptr ? own->caption : "";
    FUZZ_CHECK(std::strncmp(p.title, title, 31) == 0);
    FUZZ_CHECK(std::strncmp(p.caption, caption, 31) == 0);
    const int flags = own != nullptr ? own->flags : 0;
    FUZZ_CHECK(p.flags == (flags == 2 ? 2 : 0));
    // A default inside the machine's ordered range lands inside the host's range.
    if (own != nullptr && own->lowest <= own->default_value && own->default_value <= own->highest) {
        FUZZ_CHECK(valid(p, p.default_value));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    kestrune::fuzz::random_description made(in);
    kestrune::machine_info* info =
        kestrune::build_machine_info(made.description, "fuzz.dll", nullptr);
    FUZZ_CHECK(info != nullptr); // a few dozen parameters never run out of memory

    const int count = made.used_count();
    FUZZ_CHECK(info->global_params().size() == static_cast<std::size_t>(count));
    FUZZ_CHECK(info->name_record_count == count);
    for (int i = 0; i < count; ++i) {
        check_parameter(*info->global_params()[static_cast<std::size_t>(i)],
                        made.description.params[i],
                        info->name_records[static_cast<std::size_t>(i)]);
    }

    const bool generator = made.description.kind_flags == 3;
    FUZZ_CHECK(info->kind == (generator ? 1 : 2));
    FUZZ_CHECK(info->track_params().size() == (generator ? 2u : 0u));
    for (const host_parameter* p : info->track_params()) {
        FUZZ_CHECK(!valid(*p, p->empty_value));
    }

    // Nothing the host sees points into the machine's DLL, and the URI has no blanks left.
    FUZZ_CHECK(info->full_name == info->full_name_text.c_str());
    FUZZ_CHECK(info->identity_uri == info->identity_uri_text.c_str());
    FUZZ_CHECK(std::strncmp(info->identity_uri, kestrune::identity_uri_prefix,
                            std::strlen(kestrune::identity_uri_prefix)) == 0);
    FUZZ_CHECK(std::strpbrk(info->identity_uri, " \t\n\r") == nullptr);
    FUZZ_CHECK(std::strstr(info->command_list, "\nAbout ") != nullptr);
    delete info;
    return 0;
}
