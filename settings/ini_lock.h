#pragma once

#include <QString>

namespace wavrell {

/// Holds the lock beside an ini file ("<file>.lock", a lock file that
/// other processes of this program honour) for its life, so that one
/// process's read, change and write of the file does not cross another's.
/// Locks of the same file nest within a process. Waits up to five seconds;
/// where the lock cannot be had (a missing folder or one that cannot be
/// written, a holder that hangs) it goes on without: the write then
/// succeeds or fails as it would alone. A lock left by a process that died is taken over. Any
/// thread; a process's locks of all files take turns between its threads.
class TIniLock {
public:
    explicit TIniLock(const QString& inifile);
    ~TIniLock();
    TIniLock(const TIniLock&) = delete;
    TIniLock& operator=(const TIniLock&) = delete;

    /// The lock is held (by this object or an enclosing one of this process).
    bool locked() const { return flocked; }

private:
    QString fpath;
    bool flocked = false;
};

}  // namespace wavrell
