// The message boxes that the library shows while one call runs, read by this program instead of
// (or as well as) the user.
//
// Natively the library's message box writes "caption: text" to standard error, so reading them
// is a capture of standard error. On Windows the library calls MessageBoxA from USER32: this
// program points kestrune.dll's import of MessageBoxA at a function of its own, which records
// each box and, when the boxes are shown, passes it on to the real MessageBoxA. Only the
// library's own import is changed; the machines' calls reach USER32 as before.
#pragma once

#include <string>

namespace kestrune_host {

// Makes the boxes of the library loaded from library_path readable; false (with error) when
// they can't be. Call it once, after the library is loaded and before any box_reader.
bool watch_message_boxes(const std::string& library_path, std::string& error);

// Records every box shown between its construction and finish().
class box_reader {
public:
    // show: on Windows, whether the user still sees each box (the real, modal box); natively
    // the text never reaches the terminal while a reader is active.
    explicit box_reader(bool show);
    ~box_reader(); // stops recording, if finish wasn't called
    box_reader(const box_reader&) = delete;
    box_reader& operator=(const box_reader&) = delete;

    // Stops recording and answers every box shown meanwhile, each as "caption: text\n".
    std::string finish();

private:
    void* state_ = nullptr;
};

} // namespace kestrune_host
