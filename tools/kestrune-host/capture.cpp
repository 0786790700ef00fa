#include "capture.h"

#include <cstdio>

#if !defined(_WIN32)
#include <unistd.h>
#else
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
#endif

namespace kestrune_host {

stderr_capture::stderr_capture() {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        return;
    }
    std::fflush(stderr);
    int saved = dup(2);
    if (saved < 0 || dup2(fileno(file), 2) < 0) {
        if (saved >= 0) {
            close(saved);
        }
        std::fclose(file);
        return;
    }
    saved_ = saved;
    file_ = file;
}

stderr_capture::~stderr_capture() {
    finish();
}

std::string stderr_capture::finish() {
    std::string text;
    if (saved_ < 0) {
        return text;
    }
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
    auto* file = static_cast<std::FILE*>(file_);
    file_ = nullptr;
    std::rewind(file);
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    std::fclose(file);
    return text;
}

} // namespace kestrune_host
