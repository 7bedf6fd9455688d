#include "binding.h"

#include "frame/last_error.h"
#include "frame/messages.h"

namespace vesk {

ReaderBinding g_binding;
int g_reader_handle = 0;

int fail_not_open() noexcept { return record_failure(VESK_E_LOAD, msg::kPortNotOpen, g_reader_handle); }

namespace {

int load_reader_library() noexcept {
    if (bound()) return 0;
    platform::Module module = platform::load_reader_library();
    if (module == nullptr) {
        platform::notify_load_failure();
        return VESK_E_LOAD;
    }
    bool complete = true;
    for (int i = 0; i < kEntryCount; ++i) {
        g_binding.entry[i] = platform::find_symbol(module, kEntryNames[i]);
        if (g_binding.entry[i] == nullptr) complete = false;
    }
    if (!complete) {
        // The module stays null, so nothing ever calls the addresses left behind.
        platform::unload(module);
        return VESK_E_BIND;
    }
    g_binding.module = module;
    return 0;
}

}  // namespace
}  // namespace vesk

using namespace vesk;

extern "C" {

VESK_API int VESK_CALL Quen_ControlBuzzer(void) noexcept {
    if (!bound() || g_reader_handle == 0) return fail_not_open();
    entry<rf_beep_fn>(kRfBeep)(g_reader_handle, 10);
    return 0;
}

VESK_API int VESK_CALL Quen_ConnectVelm40(int port, int baud) noexcept {
    const int loaded = load_reader_library();
    if (loaded != 0) return loaded;
    // Answer from our own copy: another thread's connect may overwrite the
    // shared handle before we return.
    const int handle = entry<rf_init_fn>(kRfInit)(port, baud);
    g_reader_handle = handle;
    if (handle < 0) {
        record_failure(-1, msg::kOpenPortFailed, handle);
        return handle;
    }
    Quen_ControlBuzzer();
    return 0;
}

VESK_API int VESK_CALL Quen_CloseVelm40(void) noexcept {
    if (bound()) entry<rf_exit_fn>(kRfExit)(g_reader_handle);
    return 0;
}

}  // extern "C"
