#include "progress.h"

namespace kestrune_host {

namespace {
constexpr int bar_width = 30;
}

std::string progress_line(long long done, long long total, int samples_per_second, int width) {
    if (done < 0) {
        done = 0;
    }
    if (done > total) {
        done = total;
    }
    double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
    int cells = width > 0 ? static_cast<int>(fraction * width) : 0;
    std::string bar = "[" + std::string(static_cast<std::size_t>(cells), '#') +
                      std::string(static_cast<std::size_t>(width - cells), '.') + "]";
    double rate = samples_per_second > 0 ? samples_per_second : 1;
    char text[96];
    std::snprintf(text, sizeof text, " %3d%%  %.1f of %.1f s", static_cast<int>(fraction * 100),
                  static_cast<double>(done) / rate, static_cast<double>(total) / rate);
    return bar + text;
}

progress_bar::progress_bar(std::FILE* out, bool enabled, long long total, int samples_per_second)
    : out_(out), shown_(enabled && out != nullptr && samples_per_second > 0 &&
                        static_cast<double>(total) >= min_seconds * samples_per_second),
      total_(total), rate_(samples_per_second) {}

void progress_bar::update(long long done) {
    if (!shown_) {
        return;
    }
    int percent = total_ > 0 ? static_cast<int>(done * 100 / total_) : 100;
    if (percent == last_percent_) {
        return;
    }
    last_percent_ = percent;
    std::fprintf(out_, "\r%s", progress_line(done, total_, rate_, bar_width).c_str());
    std::fflush(out_);
}

void progress_bar::finish() {
    if (!shown_) {
        return;
    }
    shown_ = false;
    std::string blank(progress_line(0, total_, rate_, bar_width).size() + 8, ' ');
    std::fprintf(out_, "\r%s\r", blank.c_str());
    std::fflush(out_);
}

} // namespace kestrune_host
