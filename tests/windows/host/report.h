// Console output and checks for the freestanding MSVC-mode test host: no C library, so texts
// are written with WriteFile and compared by hand.
#pragma once

namespace report {

void text(const char* value);
void number(int value);
void line(const char* value); // text, then a line end

// Records one check: prints "ok" or "FAILED" with what was checked.
void check(bool passed, const char* what);
// Checks that actual equals expected; a '*' in expected matches anything up to the next line
// end (for a value that the platform chooses, such as a message box's answer).
void check_text(const char* actual, const char* expected, const char* what);
void check_number(int actual, int expected, const char* what);

int failures();
int passes();

bool same_text(const char* a, const char* b);
bool ends_with(const char* value, const char* tail);
int length(const char* value);

} // namespace report
