#include <windows.h>

#include "app/single_instance.h"

namespace quillon::app {

SingleInstance::SingleInstance(const std::string&) {
    HANDLE h = ::CreateMutexA(nullptr, TRUE, kInstanceGuardName);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        already_running_ = true;
        if (h) ::CloseHandle(h);
        return;
    }
    handle_ = h;
}

SingleInstance::~SingleInstance() {
    release();
}

void SingleInstance::release() {
    if (handle_) {
        ::ReleaseMutex(static_cast<HANDLE>(handle_));
        ::CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
}

}  // namespace quillon::app
