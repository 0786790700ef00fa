#include "delay_line.h"

#include <cstdlib>

namespace demo {

delay_line::~delay_line() {
    std::free(samples_);
}

bool delay_line::resize(int capacity) {
    std::free(samples_);
    samples_ = nullptr;
    size_ = 0;
    write_ = 0;
    if (capacity <= 0) {
        return false;
    }
    samples_ = static_cast<float*>(std::calloc(static_cast<unsigned>(capacity), sizeof(float)));
    if (samples_ == nullptr) {
        return false;
    }
    size_ = capacity;
    return true;
}

void delay_line::clear() {
    for (int i = 0; i < size_; ++i) {
        samples_[i] = 0.0f;
    }
}

float delay_line::process(float input, int delay, float feedback) {
    if (samples_ == nullptr || delay < 1 || delay > size_) {
        return 0.0f;
    }
    int read = write_ - delay;
    if (read < 0) {
        read += size_;
    }
    float echo = samples_[read];
    float stored = input + echo * feedback;
    // A decaying echo would end in subnormal numbers, which are slow on every processor; the
    // floating-point settings belong to the host, so flush them here instead.
    samples_[write_] = stored > -1e-20f && stored < 1e-20f ? 0.0f : stored;
    write_ = write_ + 1 == size_ ? 0 : write_ + 1;
    return echo;
}

} // namespace demo
