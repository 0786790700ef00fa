// A machine's description as the host sees it: kinds and tracks, names and their cutting,
// command list and identity URI, and the range rules for every parameter.
#include "machine/machine_info.h"

#include <climits>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrune {
namespace {

// A machine's own description, built the way a DLL would hold it.
struct fake_machine {
    std::vector<machine_parameter> params;
    std::vector<const machine_parameter*> pointers;
    machine_description description{};

    fake_machine(int kind_flags, std::vector<machine_parameter> list = {})
        : params(std::move(list)) {
        for (const machine_parameter& p : params)
            pointers.push_back(&p);
        description.api_version = 11;
        description.kind_flags = kind_flags;
        description.param_count = static_cast<int>(params.size());
        description.params = pointers.empty() ? nullptr : pointers.data();
        description.full_name = "Kestrune Test Synth";
        description.short_label = "Test";
        description.author = "Someone";
        description.command_text = "Edit...";
        description.column_count = 4;
    }
};

using info_ptr = std::unique_ptr<machine_info>;

info_ptr build(const fake_machine& m, const char* path = "/gear/Psycle/test.dll") {
    return info_ptr(build_machine_info(m.description, path, nullptr));
}

machine_parameter param(int lo, int hi, int def, int flags = 0, const char* title = "Cutoff",
                        const char* caption = "Filter cutoff") {
    return machine_parameter{title, caption, lo, hi, flags, def};
}

void expect_parameter(const host_parameter* p, int kind, const char* title, const char* caption,
                      int lowest, int highest, int empty, int flags, int def) {
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->kind, kind);
    EXPECT_STREQ(p->title, title);
    EXPECT_STREQ(p->caption, caption);
    EXPECT_EQ(p->lowest, lowest);
    EXPECT_EQ(p->highest, highest);
    EXPECT_EQ(p->empty_value, empty);
    EXPECT_EQ(p->flags, flags);
    EXPECT_EQ(p->default_value, def);
}

TEST(machine_info, construction_state) {
    machine_info info;
    EXPECT_EQ(info.kind, 0);
    EXPECT_EQ(info.interface_version, 15);
    EXPECT_EQ(info.flags, 0);
    EXPECT_EQ(info.fewest_tracks, 0);
    EXPECT_EQ(info.most_tracks, 0);
    EXPECT_STREQ(info.full_name, "");
    EXPECT_EQ(info.full_name, info.short_label); // one shared constant empty text
    EXPECT_EQ(info.full_name, info.author);
    EXPECT_EQ(info.command_list, nullptr);
    EXPECT_EQ(info.library_link, nullptr);
    EXPECT_EQ(info.identity_uri, nullptr);
    EXPECT_TRUE(info.global_params().empty());
    EXPECT_TRUE(info.track_params().empty());
    EXPECT_EQ(info.attribute_count(), 0u);
    EXPECT_TRUE(info.full_name_text.empty() && info.library_path.empty() &&
                info.identity_uri_text.empty() && info.command_list_text.empty());
    EXPECT_EQ(info.name_records, nullptr);
    EXPECT_EQ(info.name_record_count, 0);
}

TEST(machine_info, generator_has_tracks_and_two_track_parameters) {
    const info_ptr info = build(fake_machine(3));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->kind, 1);
    EXPECT_EQ(info->fewest_tracks, 8);
    EXPECT_EQ(info->most_tracks, 32);
    ASSERT_EQ(info->track_params().size(), 2u);
    expect_parameter(info->track_params()[0], 0, "Note", "Note", 1, 156, 0, 4, 0);
    expect_parameter(info->track_params()[1], 3, "Note Command", "Note Command", 1, 65535, 0, 0,
                     65535);
    EXPECT_TRUE(info->global_params().empty());
}

TEST(machine_info, anything_but_3_is_an_effect_without_tracks) {
    for (int flags : {0, 1, 2, 4, -1, 0x103}) {
        SCOPED_TRACE(flags);
        const info_ptr info = build(fake_machine(flags, {param(0, 10, 5)}));
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->kind, 2);
        EXPECT_EQ(info->fewest_tracks, 0);
        EXPECT_EQ(info->most_tracks, 0);
        EXPECT_TRUE(info->track_params().empty());
        EXPECT_EQ(info->global_params().size(), 1u);
    }
}

TEST(machine_info, fixed_fields_texts_and_own_copies) {
    char name[] = "Kestrune Test Synth";
    char label[] = "Test";
    char author[] = "Someone";
    char command[] = "Edit...";
    char path[] = "C:\\Gear\\Psycle\\sub\\test synth.dll";
    fake_machine m(3);
    m.description.full_name = name;
    m.description.short_label = label;
    m.description.author = author;
    m.description.command_text = command;
    const info_ptr info = build(m, path);
    ASSERT_NE(info, nullptr);
    // The DLL is unloaded after the conversion: scribble over its texts.
    for (char* t : {name, label, author, command, path})
        std::memset(t, 'x', std::strlen(t));

    EXPECT_EQ(info->interface_version, 15);
    EXPECT_EQ(info->flags, 1);
    EXPECT_EQ(info->library_link, nullptr);
    EXPECT_EQ(info->attribute_count(), 0u);
    EXPECT_EQ(info->full_name, info->full_name_text.c_str());
    EXPECT_EQ(info->short_label, info->short_label_text.c_str());
    EXPECT_EQ(info->author, info->author_text.c_str());
    EXPECT_EQ(info->command_list, info->command_list_text.c_str());
    EXPECT_EQ(info->identity_uri, info->identity_uri_text.c_str());
    EXPECT_STREQ(info->full_name, "Kestrune Test Synth");
    EXPECT_STREQ(info->short_label, "Test");
    EXPECT_STREQ(info->author, "Someone");
    EXPECT_STREQ(info->command_list, "Edit...\nAbout Kestrune Test Synth...");
    EXPECT_STREQ(info->identity_uri, "@kestrune.org/quillon/Kestrune+Test+Synth");
    EXPECT_EQ(info->library_path, "C:\\Gear\\Psycle\\sub\\test synth.dll");
    EXPECT_STREQ(identity_uri_prefix, "@kestrune.org/quillon/");
}

TEST(machine_info, empty_command_text_leaves_entry_0_empty) {
    fake_machine m(2);
    m.description.command_text = "";
    const info_ptr info = build(m);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->command_list, "\nAbout Kestrune Test Synth...");
}

TEST(machine_info, identity_uri_replaces_only_blanks_tabs_and_line_ends) {
    fake_machine m(2);
    m.description.full_name = "Soft Pad\t2";
    info_ptr info = build(m);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->identity_uri, "@kestrune.org/quillon/Soft+Pad+2");
    EXPECT_STREQ(info->full_name, "Soft Pad\t2"); // the name itself is untouched

    m.description.full_name = "a+b\nc\rd\v\fe/%20\"f\"";
    info = build(m);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->identity_uri, "@kestrune.org/quillon/a+b+c+d\v\fe/%20\"f\"");
}

TEST(machine_info, same_full_name_gives_same_uri) {
    const fake_machine m(3);
    const info_ptr a = build(m, "/gear/a.dll");
    const info_ptr b = build(m, "/gear/b.dll");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a.get(), b.get());
    EXPECT_STREQ(a->identity_uri, b->identity_uri);
    EXPECT_NE(a->identity_uri, b->identity_uri); // each its own copy
}

TEST(machine_info, null_texts_count_as_empty) {
    fake_machine m(3, {param(0, 10, 5, 0, nullptr, nullptr)});
    m.description.full_name = nullptr;
    m.description.short_label = nullptr;
    m.description.author = nullptr;
    m.description.command_text = nullptr;
    const info_ptr info = build(m, nullptr);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->full_name, "");
    EXPECT_STREQ(info->short_label, "");
    EXPECT_STREQ(info->author, "");
    EXPECT_STREQ(info->command_list, "\nAbout ...");
    EXPECT_STREQ(info->identity_uri, "@kestrune.org/quillon/");
    EXPECT_EQ(info->library_path, "");
    ASSERT_EQ(info->global_params().size(), 1u);
    expect_parameter(info->global_params()[0], 2, "", "", 0, 10, 255, 0, 5);
}

TEST(machine_info, parameters_in_the_machine_order_point_into_name_records) {
    const fake_machine m(2,
                         {param(0, 1, 0, 0, "One", "First"), param(0, 100, 50, 0, "Two", "Second"),
                          param(0, 1000, 7, 0, "Three", "Third")});
    const info_ptr info = build(m);
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->global_params().size(), 3u);
    ASSERT_EQ(info->name_record_count, 3);
    const char* titles[] = {"One", "Two", "Three"};
    const char* captions[] = {"First", "Second", "Third"};
    for (int i = 0; i < 3; ++i) {
        const host_parameter* p = info->global_params()[static_cast<size_t>(i)];
        EXPECT_EQ(p->title, info->name_records[static_cast<size_t>(i)].title);
        EXPECT_EQ(p->caption, info->name_records[static_cast<size_t>(i)].caption);
        EXPECT_STREQ(p->title, titles[i]);
        EXPECT_STREQ(p->caption, captions[i]);
    }
    expect_parameter(info->global_params()[0], 1, "One", "First", 0, 1, 255, 0, 0);
    expect_parameter(info->global_params()[1], 2, "Two", "Second", 0, 100, 255, 0, 50);
    expect_parameter(info->global_params()[2], 3, "Three", "Third", 0, 1000, 65535, 0, 7);
}

TEST(machine_info, names_are_cut_to_31_characters_and_padded) {
    const std::string forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    const std::string thirty_one = forty.substr(0, 31);
    const fake_machine m(2, {param(0, 1, 0, 0, forty.c_str(), thirty_one.c_str()),
                             param(0, 1, 0, 0, "ab", forty.c_str())});
    const info_ptr info = build(m);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(std::string(info->global_params()[0]->title), thirty_one);
    EXPECT_EQ(std::string(info->global_params()[0]->caption), thirty_one);
    // Everything after a short name is NUL, to the end of the field.
    const param_name_record& r = info->name_records[1];
    EXPECT_STREQ(r.title, "ab");
    for (size_t i = 2; i < sizeof r.title; ++i)
        EXPECT_EQ(r.title[i], '\0') << i;
    EXPECT_EQ(r.caption[31], '\0');
}

TEST(machine_info, flag_2_alone_is_carried) {
    const fake_machine m(2, {param(0, 10, 0, 2), param(0, 10, 0, 1), param(0, 10, 0, 3),
                             param(0, 10, 0, 6), param(0, 10, 0, 0)});
    const info_ptr info = build(m);
    ASSERT_NE(info, nullptr);
    const int expected[] = {2, 0, 0, 0, 0};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(info->global_params()[i]->flags, expected[i]) << i;
}

TEST(machine_info, ranges_defaults_and_kinds) {
    struct row {
        int lo, hi, def;
        int kind, lowest, highest, def_out, empty;
    };
    const row rows[] = {
        // The worked examples.
        {0, 1, 0, 1, 0, 1, 0, 255},
        {0, 127, 64, 2, 0, 127, 64, 255},
        {0, 254, 254, 2, 0, 254, 254, 255},
        {0, 255, 10, 3, 0, 255, 10, 65535},
        {1, 1000, 500, 3, 1, 1000, 500, 65535},
        {-100, 100, 0, 2, 0, 200, 100, 255},
        {-1, 0, 0, 1, 0, 1, 1, 255},
        {1, 65535, 2, 3, 0, 65534, 1, 65535},
        {0, 65534, 100, 3, 0, 65534, 100, 65535},
        {0, 65535, 65535, 3, 0, 65534, 65534, 65535},
        {-32768, 32767, 0, 3, 0, 65534, 32767, 65535},
        {0, 100000, 50000, 3, 0, 65534, 32767, 65535},
        // Kind boundaries: highest 1 a switch, 2 and 254 a byte, 255 a word.
        {0, 2, 1, 2, 0, 2, 1, 255},
        {-1, 1, 0, 2, 0, 2, 1, 255},
        {-1, 253, 0, 2, 0, 254, 1, 255},
        {-1, 254, 0, 3, 0, 255, 1, 65535},
        {0, 0, 0, 1, 0, 0, 0, 255},
        // Range rule boundaries.
        {1, 65534, 3, 3, 1, 65534, 3, 65535},
        {0, 65535, 0, 3, 0, 65534, 0, 65535},
        {-1, 65533, -1, 3, 0, 65534, 0, 65535},
        {-1, 65534, 0, 3, 0, 65534, 1, 65535}, // span 65535: rescaled, p 0.99998 gives 1
        {65535, 65535, 65535, 1, 0, 0, 0, 255},
        // Unordered ranges and defaults outside the range pass through the same rules.
        {5, 1, 3, 1, 5, 1, 3, 255},
        {-5, -10, -7, 1, 0, -5, -2, 255},
        {-1, 10, 20, 2, 0, 11, 21, 255},
        {0, 100000, 200000, 3, 0, 65534, 131068, 65535},
        // Spans beyond 32 bits are wide; a shifted default wraps as 32-bit ints do.
        {INT_MIN, INT_MAX, 0, 3, 0, 65534, 32767, 65535},
        {INT_MIN, INT_MAX, INT_MAX, 3, 0, 65534, 65534, 65535},
        {-1, 10, INT_MAX, 2, 0, 11, INT_MIN, 255},
        {INT_MAX - 5, INT_MAX, INT_MIN, 2, 0, 5, 6, 255},
        {INT_MIN, INT_MIN + 3, INT_MAX, 2, 0, 3, -1, 255},
        {INT_MAX, INT_MIN, 0, 1, INT_MAX, INT_MIN, 0, 255}, // unordered, taken unchanged
    };
    std::vector<machine_parameter> list;
    for (const row& r : rows)
        list.push_back(param(r.lo, r.hi, r.def));
    const fake_machine m(2, list);
    const info_ptr info = build(m);
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->global_params().size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const row& r = rows[i];
        SCOPED_TRACE(::testing::Message() << r.lo << ".." << r.hi << ", " << r.def);
        expect_parameter(info->global_params()[i], r.kind, "Cutoff", "Filter cutoff", r.lowest,
                         r.highest, r.empty, 0, r.def_out);
    }
}

TEST(machine_info, no_global_parameters_without_count_or_list) {
    fake_machine m(3, {param(0, 10, 5)});
    for (int count : {0, -1, INT_MIN}) {
        m.description.param_count = count;
        const info_ptr info = build(m);
        ASSERT_NE(info, nullptr);
        EXPECT_TRUE(info->global_params().empty());
        EXPECT_EQ(info->name_records, nullptr);
        EXPECT_EQ(info->name_record_count, 0);
        EXPECT_EQ(info->track_params().size(), 2u);
    }
    m.description.param_count = 3;
    m.description.params = nullptr;
    const info_ptr info = build(m);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->global_params().empty());
    EXPECT_EQ(info->name_records, nullptr);
}

TEST(machine_info, null_parameter_entry_keeps_its_place) {
    fake_machine m(2,
                   {param(0, 10, 5, 0, "A", "a"), param(0, 1, 0), param(0, 300, 9, 2, "C", "c")});
    m.pointers[1] = nullptr;
    const info_ptr info = build(m);
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->global_params().size(), 3u);
    expect_parameter(info->global_params()[0], 2, "A", "a", 0, 10, 255, 0, 5);
    expect_parameter(info->global_params()[1], 1, "", "", 0, 0, 255, 0, 0);
    expect_parameter(info->global_params()[2], 3, "C", "c", 0, 300, 65535, 2, 9);
    EXPECT_EQ(info->global_params()[1]->title, info->name_records[1].title);
}

TEST(machine_info, absurd_parameter_count_is_out_of_memory) {
    // Answered before any entry is read, so the short list is never overrun.
    fake_machine m(3, {param(0, 10, 5)});
    for (int count : {INT_MAX, 0x40000000, 0x02000000}) {
        m.description.param_count = count;
        EXPECT_EQ(build(m), nullptr) << count;
    }
}

class null_archive final : public host_archive {
public:
    host_outstream* output_stream(const char*) override {
        ++calls;
        return nullptr;
    }
    host_instream* input_stream(const char*) override {
        ++calls;
        return nullptr;
    }
    int calls = 0;
};

TEST(machine_info, stores_no_description) {
    const info_ptr info = build(fake_machine(3));
    ASSERT_NE(info, nullptr);
    null_archive archive;
    EXPECT_FALSE(info->store_description(&archive));
    EXPECT_FALSE(info->store_description(nullptr));
    EXPECT_EQ(archive.calls, 0);
}

TEST(replace_char, replaces_every_match_up_to_the_terminator) {
    char text[] = "a b  c\0d e";
    replace_char(text, ' ', '_');
    EXPECT_EQ(std::string(text, sizeof text - 1), std::string("a_b__c\0d e", 10));
    replace_char(text, '_', '_');
    EXPECT_STREQ(text, "a_b__c");
    replace_char(nullptr, 'a', 'b'); // nothing happens
    char empty[] = "";
    replace_char(empty, '\0', 'x');
    EXPECT_EQ(empty[0], '\0');
}

} // namespace
} // namespace kestrune
