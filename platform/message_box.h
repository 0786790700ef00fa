// The one window Kestrune shows of its own.
#pragma once

namespace kestrune::platform {

// A modal message box owned by the foreground window; answers the button's code. Natively it
// writes the caption and the text to standard error and answers 1.
int message_box(const char* text, const char* caption, unsigned type);

} // namespace kestrune::platform
