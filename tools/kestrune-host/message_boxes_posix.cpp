// Natively: the library's boxes are lines on standard error, read by sending standard error to
// a temporary file while a reader is active.
#include "message_boxes.h"

#include <cstdio>
#include <unistd.h>

namespace kestrune_host {

namespace {

// Standard error, sent to a temporary file until finish puts it back.
struct stderr_capture {
    stderr_capture();
    ~stderr_capture() { finish(); }
    stderr_capture(const stderr_capture&) = delete;
    stderr_capture& operator=(const stderr_capture&) = delete;

    // Puts standard error back and answers what was written meanwhile.
    std::string finish();

    int saved = -1; // the original standard error; -1 when not capturing
    std::FILE* file = nullptr;
};

stderr_capture::stderr_capture() {
    std::FILE* temporary = std::tmpfile();
    if (temporary == nullptr) {
        return;
    }
    std::fflush(stderr);
    int original = dup(2);
    if (original < 0 || dup2(fileno(temporary), 2) < 0) {
        if (original >= 0) {
            close(original);
        }
        std::fclose(temporary);
        return;
    }
    saved = original;
    file = temporary;
}

std::string stderr_capture::finish() {
    std::string text;
    if (saved < 0) {
        return text;
    }
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    saved = -1;
    std::rewind(file);
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    std::fclose(file);
    file = nullptr;
    return text;
}

} // namespace

bool watch_message_boxes(const std::string&, std::string&) {
    return true;
}

box_reader::box_reader(bool) : state_(new stderr_capture) {}

box_reader::~box_reader() {
    delete static_cast<stderr_capture*>(state_);
}

std::string box_reader::finish() {
    return static_cast<stderr_capture*>(state_)->finish();
}

} // namespace kestrune_host
