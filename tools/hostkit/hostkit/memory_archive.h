// A host_archive whose named streams live in memory: what an instance writes under a name can
// be read back under it, as a song file would hold it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/host_interface.h"

namespace hostkit {

using bytes = std::vector<unsigned char>;

// Appends everything written to it to one byte list.
class memory_outstream final : public kestrune::host_outstream {
public:
    explicit memory_outstream(bytes& target) : target_(target) {}
    int write_bytes(const void* buffer, int size) override; // answers size, or 0 when refused

private:
    bytes& target_;
};

// Reads one byte list from its start; a read past the end delivers what is left.
class memory_instream final : public kestrune::host_instream {
public:
    explicit memory_instream(const bytes& source) : source_(source) {}
    int read_bytes(void* buffer, int size) override; // answers the bytes delivered
    std::size_t position() const { return position_; }

private:
    const bytes& source_;
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

private:
    std::vector<std::unique_ptr<memory_outstream>> outputs_;
    std::vector<std::unique_ptr<memory_instream>> inputs_;
};

} // namespace hostkit
