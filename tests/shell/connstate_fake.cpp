// A connection-state library whose answer the test sets: it stands in for
// the system so that every flag combination can be shown to TWebDetect
// through the real binding by library name.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
int g_connected = 0;
uint32_t g_flags = 0;

// Counts real loads (not reference-count increments) of this library in the
// environment, where the test reads it without holding the library.
__attribute__((constructor)) void count_load() {
    const char* old = std::getenv("WAVRELL_FAKE_CONNSTATE_LOADS");
    const int n = old ? std::atoi(old) : 0;
    // Plain C formatting: C++ library templates would pin the library in
    // memory with unique symbols, and the test wants to see it unloaded.
    char text[16];
    std::snprintf(text, sizeof text, "%d", n + 1);
    setenv("WAVRELL_FAKE_CONNSTATE_LOADS", text, 1);
}
}  // namespace

extern "C" __attribute__((visibility("default"))) int InternetGetConnectedState(uint32_t* flags,
                                                                               uint32_t) {
    if (flags) *flags = g_flags;
    return g_connected;
}

extern "C" __attribute__((visibility("default"))) void wavrell_fake_set_state(int connected,
                                                                              uint32_t flags) {
    g_connected = connected;
    g_flags = flags;
}
