/*
 * The reader library's twelve entry points: their types, and the names and
 * order in which the binding looks them up. Reader libraries we ship include
 * this header too, so both sides of the boundary agree on every signature.
 */
#ifndef VESK_FRAME_RF_API_H
#define VESK_FRAME_RF_API_H

#include "Vesk_RD.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Key modes, block addresses and request modes are 8-bit; everything else
 * that crosses is 32 bits wide. */
typedef int(VESK_CALL *rf_init_fn)(int port, int baud);
typedef int(VESK_CALL *rf_card_fn)(int handle, unsigned char mode, unsigned int *serial);
typedef int(VESK_CALL *rf_load_key_fn)(int handle, unsigned char mode, int sector, const unsigned char *key);
typedef int(VESK_CALL *rf_authentication_fn)(int handle, unsigned char mode, int sector);
typedef int(VESK_CALL *rf_read_fn)(int handle, unsigned char block, unsigned char *data);
typedef int(VESK_CALL *rf_write_fn)(int handle, unsigned char block, const unsigned char *data);
typedef int(VESK_CALL *rf_halt_fn)(int handle);
typedef int(VESK_CALL *rf_exit_fn)(int handle);
typedef int(VESK_CALL *rf_beep_fn)(int handle, int msec);
typedef int(VESK_CALL *rf_anticoll_fn)(int handle, unsigned char bcnt, unsigned int *serial);
typedef int(VESK_CALL *rf_request_fn)(int handle, unsigned char mode, unsigned int *card_type);
typedef int(VESK_CALL *rf_select_fn)(int handle, unsigned int serial, unsigned char *answer);

/* Size of the transfer buffer handed to rf_read and rf_write. */
#define RF_TRANSFER_SIZE 20

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
namespace vesk {

enum EntryIndex {
    kRfInit,
    kRfCard,
    kRfLoadKey,
    kRfAuthentication,
    kRfRead,
    kRfWrite,
    kRfHalt,
    kRfExit,
    kRfBeep,
    kRfAnticoll,
    kRfRequest,
    kRfSelect,
    kEntryCount
};

/* Lookup order of the binding. */
inline constexpr const char *kEntryNames[kEntryCount] = {
    "rf_init", "rf_card", "rf_load_key", "rf_authentication", "rf_read", "rf_write",
    "rf_halt", "rf_exit", "rf_beep",     "rf_anticoll",       "rf_request", "rf_select",
};

}  // namespace vesk
#endif

#endif
