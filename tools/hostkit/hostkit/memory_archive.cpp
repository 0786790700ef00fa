#include "hostkit/memory_archive.h"

#include <cstring>

namespace hostkit {

int memory_outstream::write_bytes(const void* buffer, int size) {
    sizes_.push_back(size);
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    const auto* first = static_cast<const unsigned char*>(buffer);
    target_.insert(target_.end(), first, first + size);
    return size;
}

int memory_instream::read_bytes(void* buffer, int size) {
    sizes_.push_back(size);
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    std::size_t left = source_.size() - position_;
    std::size_t count =
        static_cast<std::size_t>(size) < left ? static_cast<std::size_t>(size) : left;
    if (count > 0) {
        std::memcpy(buffer, source_.data() + position_, count);
    }
    position_ += count;
    return static_cast<int>(count);
}

kestrune::host_outstream* memory_archive::output_stream(const char* name) {
    std::string key = name != nullptr ? name : "";
    requested_names.push_back(key);
    ++output_requests;
    if (!has_streams) {
        return nullptr;
    }
    bytes& target = entries[key];
    target.clear();
    outputs_.push_back(std::make_unique<memory_outstream>(target, writes));
    return outputs_.back().get();
}

kestrune::host_instream* memory_archive::input_stream(const char* name) {
    std::string key = name != nullptr ? name : "";
    requested_names.push_back(key);
    ++input_requests;
    auto found = entries.find(key);
    if (!has_streams || found == entries.end()) {
        return nullptr;
    }
    inputs_.push_back(std::make_unique<memory_instream>(found->second, reads));
    return inputs_.back().get();
}

} // namespace hostkit
