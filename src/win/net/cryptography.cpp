#include "win/net/cryptography.h"

namespace {

struct StretchJob {
    quorbel::crypto::Library& library;
    quorbel::Role role;
    const std::string& loginText;
    const std::string& salt;
    std::unique_ptr<quorbel::SecureSession> made;
};

DWORD WINAPI Stretch(LPVOID job) {
    auto& j = *static_cast<StretchJob*>(job);
    j.made = j.library.NewSecureSession(j.role, j.loginText, j.salt);
    return 0;
}

constexpr DWORD kStretchWaitSliceMs = 50;

}  // namespace

// The stretch takes a noticeable part of a second (0.4 s for the 32-bit
// program under Wine). The Server's runs on its receive thread; the
// Client's login runs on the window thread, so there it runs on a thread
// of its own while the windows go on painting and what other threads send
// them is served (no input: nothing can start meanwhile).
std::unique_ptr<quorbel::SecureSession> WinCryptography::NewSecureSession(quorbel::Role role,
                                                                          const std::string& loginText,
                                                                          const std::string& salt) {
    StretchJob job{library_, role, loginText, salt, nullptr};
    HANDLE worker = GetCurrentThreadId() == windowThread_ ? CreateThread(nullptr, 0, Stretch, &job, 0, nullptr)
                                                          : nullptr;
    if (!worker) return library_.NewSecureSession(role, loginText, salt);
    // The stretch ends by itself: its time is bounded by its fixed cost.
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &worker, FALSE, kStretchWaitSliceMs, QS_PAINT | QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageW(&msg);
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    // `job` lives on this stack: the thread ends before it goes (at once but
    // after a failed wait).
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    return std::move(job.made);
}
