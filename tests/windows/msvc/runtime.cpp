// What the MSVC runtime would give a freestanding MSVC-mode binary, and no more: the heap
// operators over the process heap, the few memory functions that the compiler may call on its
// own, and the _fltused marker that any use of floating point refers to. The binaries have no
// C runtime and no entry point of their own, so nothing here may need construction at load.
#include "tests/windows/msvc/win32_mini.h"

extern "C" int _fltused = 0;

void* operator new(size_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size);
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* block) noexcept {
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}
void operator delete[](void* block) noexcept {
    operator delete(block);
}
void operator delete(void* block, size_t) noexcept {
    operator delete(block);
}
void operator delete[](void* block, size_t) noexcept {
    operator delete(block);
}

// The compiler may turn a copy or a fill into these calls. Byte by byte through volatile
// pointers, so that they are not themselves turned into calls to themselves.
extern "C" void* memset(void* target, int value, size_t size) {
    volatile unsigned char* out = static_cast<unsigned char*>(target);
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<unsigned char>(value);
    }
    return target;
}

extern "C" void* memcpy(void* target, const void* source, size_t size) {
    volatile unsigned char* out = static_cast<unsigned char*>(target);
    const volatile unsigned char* in = static_cast<const unsigned char*>(source);
    for (size_t i = 0; i < size; ++i) {
        out[i] = in[i];
    }
    return target;
}
