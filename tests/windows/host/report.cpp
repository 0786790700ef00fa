#include "tests/windows/host/report.h"

#include "tests/windows/msvc/win32_mini.h"

namespace report {
namespace {

int failed_count = 0;
int passed_count = 0;

// Matches value against pattern, where '*' stands for any run of characters without a line
// end.
bool matches(const char* value, const char* pattern) {
    while (*pattern != '\0') {
        if (*pattern == '*') {
            while (*value != '\0' && *value != '\n') {
                ++value;
            }
            ++pattern;
            continue;
        }
        if (*value != *pattern) {
            return false;
        }
        ++value;
        ++pattern;
    }
    return *value == '\0';
}

} // namespace

int length(const char* value) {
    int n = 0;
    while (value[n] != '\0') {
        ++n;
    }
    return n;
}

void text(const char* value) {
    unsigned long written = 0;
    WriteFile(GetStdHandle(WIN_STD_OUTPUT_HANDLE), value, static_cast<unsigned long>(length(value)),
              &written, nullptr);
}

void number(int value) {
    char digits[12];
    int n = 0;
    unsigned magnitude =
        value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    char out[13];
    int k = 0;
    if (value < 0) {
        out[k++] = '-';
    }
    while (n > 0) {
        out[k++] = digits[--n];
    }
    out[k] = '\0';
    text(out);
}

void line(const char* value) {
    text(value);
    text("\n");
}

void check(bool passed, const char* what) {
    if (passed) {
        ++passed_count;
        text("ok: ");
    } else {
        ++failed_count;
        text("FAILED: ");
    }
    line(what);
}

void check_text(const char* actual, const char* expected, const char* what) {
    const bool passed = actual != nullptr && matches(actual, expected);
    check(passed, what);
    if (!passed) {
        text("  expected: [");
        text(expected);
        text("]\n  actual:   [");
        text(actual == nullptr ? "(null)" : actual);
        text("]\n");
    }
}

void check_number(int actual, int expected, const char* what) {
    check(actual == expected, what);
    if (actual != expected) {
        text("  expected ");
        number(expected);
        text(", got ");
        number(actual);
        text("\n");
    }
}

int failures() {
    return failed_count;
}

int passes() {
    return passed_count;
}

bool same_text(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool ends_with(const char* value, const char* tail) {
    if (value == nullptr) {
        return false;
    }
    const int n = length(value);
    const int m = length(tail);
    return n >= m && same_text(value + (n - m), tail);
}

} // namespace report
