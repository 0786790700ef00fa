// What the library writes to standard error while one call runs. Natively, the library's
// message box writes "caption: text" there: this is how the host program reads an About box.
#pragma once

#include <string>

namespace kestrune_host {

class stderr_capture {
public:
    stderr_capture();  // from now on, standard error goes to a temporary file
    ~stderr_capture(); // puts standard error back, if finish wasn't called
    stderr_capture(const stderr_capture&) = delete;
    stderr_capture& operator=(const stderr_capture&) = delete;

    bool active() const { return saved_ >= 0; }
    // Puts standard error back and answers what was written meanwhile.
    std::string finish();

private:
    int saved_ = -1;
    void* file_ = nullptr; // FILE*
};

} // namespace kestrune_host
