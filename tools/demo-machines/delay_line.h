// The sound of the demo delay as a plain record: one channel's echo memory and the step that
// mixes a sample with its echo. Nothing here knows the machine interface.
#pragma once

namespace demo {

class delay_line {
public:
    delay_line() = default;
    ~delay_line();
    delay_line(const delay_line&) = delete;
    delay_line& operator=(const delay_line&) = delete;

    // Makes room for up to capacity samples of delay, cleared. False (and no room, so every
    // sample passes dry) when the memory can't be had.
    bool resize(int capacity);
    int capacity() const { return size_; }
    void clear();

    // One sample: the echo from delay samples ago comes out, and the input plus the echo times
    // feedback goes in. A delay outside 1..capacity gives no echo.
    float process(float input, int delay, float feedback);

private:
    float* samples_ = nullptr;
    int size_ = 0;
    int write_ = 0;
};

} // namespace demo
