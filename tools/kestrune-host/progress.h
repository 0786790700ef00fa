// The progress bar of a long render, drawn on standard error when that is a terminal.
#pragma once

#include <cstdio>
#include <string>

namespace kestrune_host {

// One bar line without its carriage return: "[#######.............]  35%  7.0 of 20.0 s".
// done is clamped to 0..total; width counts the bar's inner cells.
std::string progress_line(long long done, long long total, int samples_per_second, int width);

// Redraws the bar only when its percentage changes, and clears it at the end.
class progress_bar {
public:
    // Shown only when enabled and the render is at least min_seconds long.
    progress_bar(std::FILE* out, bool enabled, long long total, int samples_per_second);
    ~progress_bar() { finish(); }
    progress_bar(const progress_bar&) = delete;
    progress_bar& operator=(const progress_bar&) = delete;

    void update(long long done);
    void finish(); // wipes the bar so that what follows starts on a clean line

    static constexpr double min_seconds = 5.0;

private:
    std::FILE* out_;
    bool shown_;
    long long total_;
    int rate_;
    int last_percent_ = -1;
};

} // namespace kestrune_host
