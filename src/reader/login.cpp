#include "binding.h"
#include "frame/last_error.h"
#include "frame/messages.h"

using namespace vesk;

extern "C" VESK_API int VESK_CALL Quen_Login_With_UserKey(int sector, const unsigned char *key,
                                                            int keyType) noexcept {
    if (!bound()) return fail_not_open();
    const unsigned char key_mode = keyType == 1 ? 4 : 0;
    const int handle = g_reader_handle;

    unsigned int card_type = 0;
    int status = entry<rf_request_fn>(kRfRequest)(handle, 1, &card_type);
    if (status != 0) {
        record_failure(status, msg::kNoCardInField);
        return VESK_E_BIND;
    }
    unsigned char answer = 0;
    const int selected = select_card(&answer);
    if (selected != 0) return selected;

    // A null key would only crash inside the reader library.
    status = key == nullptr ? -1 : entry<rf_load_key_fn>(kRfLoadKey)(handle, key_mode, sector, key);
    if (status != 0) {
        record_failure(status, msg::kLoadKeyFailed);
        return VESK_E_LOAD_KEY;
    }
    status = entry<rf_authentication_fn>(kRfAuthentication)(handle, key_mode, sector);
    if (status != 0) {
        record_failure(status, msg::kAuthFailed);
        return VESK_E_AUTH;
    }
    return 0;
}
