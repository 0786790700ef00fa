// The host's side of the interface, as a small MSVC-built host implements it: a factory that
// keeps what it is announced, and an archive with one in-memory stream, the way a song file
// holds an instance's state.
#pragma once

#include "tests/windows/host/host_view.h"

namespace host_objects {

class recording_factory final : public host_view::factory {
public:
    static constexpr int capacity = 8;
    void announce(host_view::info* description) override {
        if (count < capacity) {
            infos[count] = description;
        }
        ++count;
    }
    host_view::info* infos[capacity] = {};
    int count = 0; // every announcement, also those beyond capacity
};

// One stream of at most 256 bytes, written from its start and read from its start.
class memory_archive final : public host_view::archive, host_view::outstream, host_view::instream {
public:
    static constexpr int capacity = 256;

    host_view::outstream* output_stream(const char* name) override {
        ++output_requests;
        last_name_empty = name != nullptr && name[0] == '\0';
        size = 0;
        return this;
    }
    host_view::instream* input_stream(const char* name) override {
        ++input_requests;
        last_name_empty = name != nullptr && name[0] == '\0';
        position = 0;
        return this;
    }
    int write_bytes(const void* buffer, int count) override {
        const auto* in = static_cast<const unsigned char*>(buffer);
        int done = 0;
        for (; done < count && size < capacity; ++done) {
            bytes[size++] = in[done];
        }
        return done;
    }
    int read_bytes(void* buffer, int count) override {
        auto* out = static_cast<unsigned char*>(buffer);
        int done = 0;
        for (; done < count && position < size; ++done) {
            out[done] = bytes[position++];
        }
        return done;
    }

    unsigned char bytes[capacity] = {};
    int size = 0;
    int position = 0;
    int output_requests = 0;
    int input_requests = 0;
    bool last_name_empty = false;
};

} // namespace host_objects
