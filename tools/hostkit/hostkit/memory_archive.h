// A host_archive whose named streams live in memory: what an instance writes under a name can
// be read back under it, as a song file would hold it. It also counts what was asked of it, for
// tests of how an instance stores and restores its state.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/host_interface.h"

namespace hostkit {

using bytes = std::vector<unsigned char>;

// Appends everything written to it to one byte list, and each call's size to sizes.
class memory_outstream final : public kestrune::host_outstream {
public:
    memory_outstream(bytes& target, std::vector<int>& sizes) : target_(target), sizes_(sizes) {}
    int write_bytes(const void* buffer, int size) override; // answers size, or 0 when refused

private:
    bytes& target_;
    std::vector<int>& sizes_;
};

// Reads one byte list from its start, and adds each call's size to sizes; a read past the end
// delivers what is left.
class memory_instream final : public kestrune::host_instream {
public:
    memory_instream(const bytes& source, std::vector<int>& sizes)
        : source_(source), sizes_(sizes) {}
    int read_bytes(void* buffer, int size) override; // answers the bytes delivered

private:
    const bytes& source_;
    std::vector<int>& sizes_;
    std::size_t position_ = 0;
};

class memory_archive final : public kestrune::host_archive {
public:
    // A fresh stream that replaces what name held.
    kestrune::host_outstream* output_stream(const char* name) override;
    // A stream over what name holds, from its start; null when nothing was stored under name.
    kestrune::host_instream* input_stream(const char* name) override;

    std::map<std::string, bytes> entries;     // the stored bytes, by stream name
    std::vector<std::string> requested_names; // every name asked for, in order
    int output_requests = 0;                  // output_stream calls, refused ones included
    int input_requests = 0;                   // input_stream calls, refused ones included
    std::vector<int> writes;                  // the size of each write_bytes call, on any stream
    std::vector<int> reads;                   // the size of each read_bytes call, on any stream
    bool has_streams = true;                  // false: every stream asked for is refused (null)

private:
    std::vector<std::unique_ptr<memory_outstream>> outputs_;
    std::vector<std::unique_ptr<memory_instream>> inputs_;
};

} // namespace hostkit
