#include "settings/ini_lock.h"

#include <QLockFile>

#include <map>
#include <memory>
#include <mutex>

namespace wavrell {

namespace {

constexpr int kWaitMs = 5000;

struct Held {
    std::unique_ptr<QLockFile> file;
    int depth = 0;
};

/// The locks this process holds, by lock file. The recursive mutex lets one
/// thread nest its locks while other threads wait their turn.
struct Locks {
    std::recursive_mutex mutex;
    std::map<QString, Held> held;
};

Locks& locks() {
    static Locks l;
    return l;
}

}  // namespace

TIniLock::TIniLock(const QString& inifile) {
    if (inifile.isEmpty()) return;
    locks().mutex.lock();
    fpath = inifile + QStringLiteral(".lock");
    Held& h = locks().held[fpath];
    if (h.depth == 0) {
        auto file = std::make_unique<QLockFile>(fpath);
        if (file->tryLock(kWaitMs)) h.file = std::move(file);
    }
    flocked = h.file != nullptr;
    ++h.depth;
}

TIniLock::~TIniLock() {
    if (fpath.isEmpty()) return;
    const auto it = locks().held.find(fpath);
    if (--it->second.depth == 0) locks().held.erase(it);  // unlocks and removes the lock file
    locks().mutex.unlock();
}

}  // namespace wavrell
