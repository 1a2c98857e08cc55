#include "ui/win32/win32_pump.h"

#include "ui/win32/binding.h"
#include "wait/poll_pump.h"
#include "wait/win32_wait.h"

namespace quillon::ui::win32 {
namespace {

// A message that means the user acted: the wait ends after handling it.
bool IsUserAction(UINT msg) {
    switch (msg) {
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_NCLBUTTONUP:
        case WM_KEYUP:
        case WM_SYSKEYUP:
        case WM_CLOSE:
        case WM_QUIT:
            return true;
        default:
            return false;
    }
}

}  // namespace

void Win32Pump::wait(engine::Clock::duration max, bool process_ui, bool wake_on_input) {
    if (max <= engine::Clock::duration::zero()) return;
    if (!process_ui) {
        engine::PollPump(input_handle_).wait(max, false, wake_on_input);
        return;
    }
    const engine::Clock::time_point deadline = engine::Clock::now() + max;
    thread_local engine::PreciseTimer timer;  // armed again by each wait (see PollPump)
    HANDLE handles[2];
    DWORD count = 0;
    const bool timed = timer.start(max);
    if (timed) handles[count++] = timer.handle();
    const DWORD input_index = count;
    if (HANDLE input =
            wake_on_input && input_handle_ ? engine::EventFromPollHandle(input_handle_()) : nullptr)
        handles[count++] = input;
    for (;;) {
        const auto left = deadline - engine::Clock::now();
        if (left <= engine::Clock::duration::zero()) return;
        // MWMO_INPUTAVAILABLE: messages already queued (seen by an earlier peek) wake too.
        const DWORD r = MsgWaitForMultipleObjectsEx(count, handles, engine::BackstopMs(left),
                                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        engine::CountWait(r, input_index, count, timed);
        if (r == WAIT_OBJECT_0 + count) {
            MSG msg;
            bool acted = false;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    // Left for the main loop, which ends on it.
                    PostQuitMessage(int(msg.wParam));
                    return;
                }
                acted = acted || IsUserAction(msg.message);
                DispatchOne(binding_, msg);
            }
            if (acted) return;
            continue;
        }
        if (r == WAIT_OBJECT_0 + input_index && input_index < count) return;  // input
        return;  // the timer, the backstop, or a failed wait
    }
}

}  // namespace quillon::ui::win32
