/* The binding to the reader library and the reader handle, shared by every
 * reader and card operation. */
#ifndef VESK_READER_BINDING_H
#define VESK_READER_BINDING_H

#include "frame/rf_api.h"
#include "platform/platform.h"

namespace vesk {

struct ReaderBinding {
    platform::Module module = nullptr;  // non-null exactly when all twelve were found
    void *entry[kEntryCount] = {};
};

extern ReaderBinding g_binding;
extern int g_reader_handle;

inline bool bound() noexcept { return g_binding.module != nullptr; }

template <typename Fn>
inline Fn entry(EntryIndex index) noexcept {
    return reinterpret_cast<Fn>(g_binding.entry[index]);
}

/* Records (-1, "串口%d未打开" with the handle) and returns -1: the answer of
 * every operation that finds no open reader to call. */
int fail_not_open() noexcept;

/* Anticollision then selection of the card it names: the step that card
 * detection and login share. Records (s, "读卡器感应区没有卡") and returns -2
 * when rf_anticoll fails, records (s, "选卡失败!") and returns s when rf_select
 * fails; on 0 the answer byte is in *answer. */
int select_card(unsigned char *answer) noexcept;

}  // namespace vesk

#endif
