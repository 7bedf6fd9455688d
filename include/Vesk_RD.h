/*
 * Vesk_RD: twelve plain C functions for Mifare Classic cards.
 *
 * Vesk_RD does no reader work itself. At the first Quen_ConnectVelm40 it loads
 * the reader library (RfReader.dll on Windows, libRfReader.so elsewhere) and
 * drives it through twelve rf_ entry points. It keeps one process-wide
 * last-error record (a code and a GBK text) that failures write and
 * Quen_GetLastErr reads.
 *
 * Conventions shared by every function:
 * - Every function returns an int; 0 is success. The library's own failure
 *   codes are -1 to -7 (VESK_E_*); other nonzero values are passed through
 *   from the reader library (see each function).
 * - Output parameters are written only on success. A null output pointer
 *   means "not wanted": the operation runs and skips writing it.
 * - A successful call never touches the last-error record.
 * - Nothing is thread-safe: all state is process-wide and unlocked, so issue
 *   one call at a time. Concurrent misuse never overruns a buffer, though.
 * - No function allocates heap memory once the reader library is bound, and
 *   no C++ exception ever leaves one.
 * - Card operations called while no reader library is bound (before the first
 *   successful connect, or after one failed) call nothing: they record
 *   (-1, "串口%d未打开" with the reader handle) and return -1.
 *
 * Calling convention: VESK_CALL. It is empty on Linux and on 64-bit Windows;
 * on 32-bit Windows it is __stdcall (WINAPI) for the eleven functions with
 * fixed arguments. SetLastErrMsg takes variable arguments and is therefore
 * always cdecl. Exported names are undecorated on every target.
 *
 * Message catalogue (all texts are GBK, code page 936):
 *
 *   Text                 Meaning                               Code recorded
 *   "打开串口%d失败"      opening the serial port failed        -1 (%d: rf_init result)
 *   "串口%d未打开"        the serial port is not open           -1 (%d: reader handle)
 *   "读取卡序列号失败"    reading the card serial number failed  MF_ReadSeriesNo result
 *   "读卡器感应区没有卡"  no card in the reader's field         rf_request/rf_anticoll status
 *   "选卡失败!"           selecting the card failed             rf_select status
 *   "装载密码失败!"       loading the key failed                rf_load_key status (-1: null key)
 *   "验证密钥失败!"       the key was not accepted              rf_authentication status
 *   "读卡内数据错!"       reading data from the card failed     rf_read status
 *   "休眠失败!"           halting the card failed               rf_halt status
 */
#ifndef VESK_RD_H
#define VESK_RD_H

#if defined(_WIN32)
#  if defined(_M_IX86) || defined(__i386__)
#    define VESK_CALL __stdcall
#  else
#    define VESK_CALL
#  endif
#  define VESK_CDECL __cdecl
#  define VESK_API
#else
#  define VESK_CALL
#  define VESK_CDECL
#  if defined(VESK_RD_BUILDING)
#    define VESK_API __attribute__((visibility("default")))
#  else
#    define VESK_API
#  endif
#endif

#ifdef __cplusplus
#  define VESK_NOEXCEPT noexcept
extern "C" {
#else
#  define VESK_NOEXCEPT
#endif

/* Buffer sizes, in bytes. */
#define VESK_SERIAL_SIZE 4
#define VESK_ANSWER_SIZE 1
#define VESK_BLOCK_SIZE 16
#define VESK_MESSAGE_SIZE 1024

/* The library's own return codes. */
#define VESK_OK 0
#define VESK_E_LOAD (-1)     /* reader library not loaded / reader not open */
#define VESK_E_BIND (-2)     /* entry point missing (connect); no card answered (card, login) */
#define VESK_E_LOAD_KEY (-3) /* loading the key failed */
#define VESK_E_AUTH (-4)     /* authenticating the sector failed */
#define VESK_E_READ (-5)     /* reading a block failed */
#define VESK_E_WRITE (-6)    /* writing a block failed */
#define VESK_E_HALT (-7)     /* halting the card failed */

/* ---- The last-error record ------------------------------------------- */

/*
 * Formats `format` (printf rules) into a 1024-byte buffer and stores `code`
 * and the text as the last-error record. A text longer than 1023 bytes is cut
 * to 1023 bytes; it is always NUL-terminated. A null `format`, or one that
 * vsnprintf fails on (say, an unconvertible wide string), records an empty
 * text. Returns `code` unchanged. Host applications may record their own
 * failures here.
 */
VESK_API int VESK_CDECL SetLastErrMsg(int code, const char *format, ...) VESK_NOEXCEPT;

/*
 * Copies the record's code into *code and its text, NUL included, into
 * `message`, which must hold VESK_MESSAGE_SIZE (1024) bytes. Never copies more
 * than 1024 bytes and always terminates. Either pointer may be null to skip
 * that output. Before any failure the record is (-1, ""). Always returns 0 and
 * never changes the record.
 */
VESK_API int VESK_CALL Quen_GetLastErr(int *code, char *message) VESK_NOEXCEPT;

/* Returns the MF status word, which nothing writes: always 0. */
VESK_API int VESK_CALL GetMFLastErr(void) VESK_NOEXCEPT;

/* ---- The reader ---------------------------------------------------------- */

/*
 * Binds the reader library on first use, then calls rf_init(port, baud),
 * keeps its result as the reader handle, and beeps once (rf_beep(handle, 10)).
 * Returns:
 *   0   success. If rf_init returned 0 the connect beep records
 *       (-1, "串口0未打开") and no beep is made, but 0 is still returned.
 *   -1  the reader library cannot be loaded. A notice is shown (Windows: a
 *       message box "动态库加载失败!" captioned with the host executable's
 *       path; Linux: the line "<executable path>: 动态库加载失败!" on stderr).
 *       The record is untouched; the next call tries again.
 *   -2  the reader library lacks one of its twelve entry points. It is
 *       unloaded again, nothing is recorded; the next call tries again.
 *   v<0 rf_init returned v: records (-1, "打开串口%d失败" with v).
 * A second connect reuses the binding and calls rf_init again; the earlier
 * handle is not closed first.
 */
VESK_API int VESK_CALL Quen_ConnectVelm40(int port, int baud) VESK_NOEXCEPT;

/*
 * Calls rf_exit(handle) and returns 0. The handle value and the binding are
 * kept, so the reader can be connected again without loading anything. When
 * no reader library is bound it calls nothing and returns 0.
 */
VESK_API int VESK_CALL Quen_CloseVelm40(void) VESK_NOEXCEPT;

/*
 * Calls rf_beep(handle, 10) and returns 0. Returns -1 and records
 * (-1, "串口%d未打开" with the handle) when the handle is 0 (never connected,
 * or rf_init returned 0) or no reader library is bound. A negative handle left
 * by a failed connect is handed to rf_beep like any other.
 */
VESK_API int VESK_CALL Quen_ControlBuzzer(void) VESK_NOEXCEPT;

/* ---- The card ------------------------------------------------------------ */

/*
 * Requests a card (rf_request, mode 1) and reads its serial number
 * (rf_anticoll) into `serial` (VESK_SERIAL_SIZE = 4 bytes, least significant
 * byte of the serial value first). Records nothing. Returns:
 *   0   success;
 *   -2  no card answered the request;
 *   s   the nonzero status of rf_anticoll.
 */
VESK_API int VESK_CALL MF_ReadSeriesNo(unsigned char *serial) VESK_NOEXCEPT;

/*
 * Detects, identifies and selects the card: rf_request (mode 1), rf_anticoll,
 * rf_anticoll again, rf_select. On success writes the serial number of the
 * first anticollision into `serial` (4 bytes, as MF_ReadSeriesNo) and the
 * answer byte of the selection into `answer` (1 byte). Returns:
 *   0   success;
 *   r   MF_ReadSeriesNo failed with r (-2 or the rf_anticoll status):
 *       records (r, "读取卡序列号失败");
 *   -2  the second rf_anticoll failed with s: records (s, "读卡器感应区没有卡");
 *   s   rf_select failed with s: records (s, "选卡失败!").
 */
VESK_API int VESK_CALL Quen_RequestCardExist(unsigned char *serial, unsigned char *answer) VESK_NOEXCEPT;

/*
 * Calls for the card, selects it and authenticates `sector` with `key`:
 * rf_request (mode 1), rf_anticoll, rf_select, rf_load_key, rf_authentication.
 * The key mode is 4 (key B) when keyType is 1 and 0 (key A) otherwise. The key
 * bytes are handed to the reader library unread; the shipped reader libraries
 * take 6 bytes. Returns:
 *   0   the sector is authenticated;
 *   -2  rf_request or rf_anticoll failed with s: records (s, "读卡器感应区没有卡");
 *   s   rf_select failed with s: records (s, "选卡失败!");
 *   -3  rf_load_key failed with s: records (s, "装载密码失败!"). A null key
 *       fails here too, without calling rf_load_key: records (-1, "装载密码失败!");
 *   -4  rf_authentication failed with s: records (s, "验证密钥失败!").
 */
VESK_API int VESK_CALL Quen_Login_With_UserKey(int sector, const unsigned char *key, int keyType) VESK_NOEXCEPT;

/*
 * Reads block `block` of `sector` into `data` (VESK_BLOCK_SIZE = 16 bytes).
 * The absolute block address is (sector * 4 + block) modulo 256; neither
 * number is range-checked. Returns 0, or -5 when rf_read failed with s:
 * records (s, "读卡内数据错!") and leaves `data` untouched.
 */
VESK_API int VESK_CALL Quen_ReadBlock(int sector, int block, unsigned char *data) VESK_NOEXCEPT;

/*
 * Writes the 16 bytes at `data` to block `block` of `sector` (address as for
 * Quen_ReadBlock). Returns 0, or -6 when rf_write failed or `data` is null.
 * Never writes the last-error record; the reader status is not kept.
 */
VESK_API int VESK_CALL Quen_WriteBlock(int sector, int block, const unsigned char *data) VESK_NOEXCEPT;

/*
 * Halts the card (rf_halt). Returns 0, or -7 when rf_halt failed with s:
 * records (s, "休眠失败!").
 */
VESK_API int VESK_CALL Quen_SleepCard(void) VESK_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* VESK_RD_H */
