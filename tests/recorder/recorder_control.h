/*
 * Controls of the recording reader library, a test-only libRfReader.so that
 * logs every rf_ call with its arguments and answers from a script.
 * Tests reach these through dlsym on the same loaded object that Vesk_RD
 * bound, so script and log are shared with the library under test.
 */
#ifndef RECORDER_CONTROL_H
#define RECORDER_CONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Forget the log, the script and every call count. */
typedef void (*rec_reset_fn)(void);
/* The nth call (from 1; 0 = every call; -k = every kth call) of `entry`
 * returns `status`. For rf_init the status is the handle it returns
 * (default 7). */
typedef void (*rec_script_fn)(const char *entry, int nth, int status);
/* What the nth rf_anticoll call (0 = every call) writes as the serial value
 * (default 0x12345678). */
typedef void (*rec_serial_fn)(int nth, unsigned int value);
/* The answer byte rf_select writes (default 0x08). */
typedef void (*rec_answer_fn)(unsigned char answer);
/* The 20 bytes rf_read puts into the buffer (default 0x00..0x13). */
typedef void (*rec_read_data_fn)(const unsigned char *data20);
typedef int (*rec_count_fn)(void);
/* The ith logged call, formatted as "rf_read(7,6,<hex of the buffer>)". */
typedef const char *(*rec_call_fn)(int i);

#ifdef __cplusplus
}
#endif

#endif
