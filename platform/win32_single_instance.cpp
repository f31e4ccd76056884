// One copy per login session on Windows: a named mutex in the session's Local\ namespace, owned
// by the one copy. Windows closes the handles of a process that ends, however it ends, so a
// crashed copy leaves nothing that blocks the next start.
#include "single_instance.h"

#include "win32_text.h"

#include <lmcons.h>

namespace platform {

SingleInstance::SingleInstance(const std::string& name) {
    // The user's name keeps apart two users of one session (a program run as another user).
    mutex_name_ = L"Local\\" + wide_from(CP_UTF8, name);
    wchar_t user[UNLEN + 1] = {};
    DWORD size = UNLEN + 1;
    if (GetUserNameW(user, &size))
        mutex_name_ += L"." + std::wstring(user);
    claim();
}

SingleInstance::~SingleInstance() {
    if (owned_)
        ReleaseMutex(mutex_);
    if (mutex_)
        CloseHandle(mutex_);
}

bool SingleInstance::claim() {
    if (first_)
        return true;
    if (!mutex_) {
        mutex_ = CreateMutexW(nullptr, FALSE, mutex_name_.c_str());
        // Denied: the mutex is there, made by a copy that runs with rights this one lacks (run
        // as administrator), and its security lets this copy do less than all. Waiting on it
        // may still be allowed; if not, that copy runs, and the mutex is tried again at the
        // next claim, by when that copy may have ended and taken its mutex along.
        if (!mutex_ && GetLastError() == ERROR_ACCESS_DENIED) {
            mutex_ = OpenMutexW(SYNCHRONIZE, FALSE, mutex_name_.c_str());
            if (!mutex_ && GetLastError() == ERROR_ACCESS_DENIED)
                return false;
        }
        if (!mutex_)
            return first_ = true; // no mutex at all: a copy of its own
    }
    // Abandoned: the copy that owned it ended without letting go; it is this copy's now.
    const DWORD got = WaitForSingleObject(mutex_, 0);
    owned_ = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
    first_ = got != WAIT_TIMEOUT;
    return first_;
}

} // namespace platform
