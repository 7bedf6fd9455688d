/* The public header must compile as C, with every declaration usable. */
#include "Vesk_RD.h"

typedef int (VESK_CDECL *set_fn)(int, const char *, ...);
typedef int (VESK_CALL *get_fn)(int *, char *);
typedef int (VESK_CALL *void_fn)(void);
typedef int (VESK_CALL *connect_fn)(int, int);
typedef int (VESK_CALL *serial_fn)(unsigned char *);
typedef int (VESK_CALL *exist_fn)(unsigned char *, unsigned char *);
typedef int (VESK_CALL *login_fn)(int, const unsigned char *, int);
typedef int (VESK_CALL *read_fn)(int, int, unsigned char *);
typedef int (VESK_CALL *write_fn)(int, int, const unsigned char *);

int c_header_roundtrip(void) {
    set_fn set = SetLastErrMsg;
    get_fn get = Quen_GetLastErr;
    void_fn mf = GetMFLastErr;
    connect_fn connect = Quen_ConnectVelm40;
    void_fn close = Quen_CloseVelm40;
    void_fn buzzer = Quen_ControlBuzzer;
    serial_fn serial = MF_ReadSeriesNo;
    exist_fn exist = Quen_RequestCardExist;
    login_fn login = Quen_Login_With_UserKey;
    read_fn read = Quen_ReadBlock;
    write_fn write = Quen_WriteBlock;
    void_fn sleep = Quen_SleepCard;
    char text[VESK_MESSAGE_SIZE];
    int code = 0;
    (void)connect; (void)close; (void)buzzer; (void)serial; (void)exist;
    (void)login; (void)read; (void)write; (void)sleep;
    set(VESK_E_HALT, "from C %d", VESK_BLOCK_SIZE);
    get(&code, text);
    return code == VESK_E_HALT && text[7] == '1' && text[8] == '6' && mf() == 0;
}
