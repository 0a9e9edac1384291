#include "tests/shell/connstate_fake.h"

#include <dlfcn.h>

#include <cstdlib>

namespace wavrell::test {

QString fake_connstate_library() { return QStringLiteral(WAVRELL_FAKE_CONNSTATE); }
QString connstate_missing_library() { return QStringLiteral(WAVRELL_MISSING_CONNSTATE); }

bool set_fake_connection_state(bool connected, uint32_t flags) {
    void* h = dlopen(WAVRELL_FAKE_CONNSTATE, RTLD_NOW | RTLD_NOLOAD);
    if (!h) return false;
    auto set = reinterpret_cast<void (*)(int, uint32_t)>(dlsym(h, "wavrell_fake_set_state"));
    if (set) set(connected ? 1 : 0, flags);
    dlclose(h);
    return set != nullptr;
}

int fake_connstate_loads() {
    const char* n = std::getenv("WAVRELL_FAKE_CONNSTATE_LOADS");
    return n ? std::atoi(n) : 0;
}

}  // namespace wavrell::test
