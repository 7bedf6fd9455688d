// Binds Vesk_RD to the simulated reader (card file off), then runs every one
// of the twelve exports N times (argv[1], default 0), successes and recorded
// failures alike. scripts/bench runs it under `strace -c` with N = 0 and a
// large N: equal counts mean the loop made no system call at all.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "Vesk_RD.h"

int main(int argc, char **argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 0;
    unsetenv("RFSIM_CARD");
    if (dlopen(VESK_SIM_PATH, RTLD_NOW | RTLD_LOCAL) == nullptr || Quen_ConnectVelm40(1, 115200) != 0) {
        std::fprintf(stderr, "cannot bind the simulated reader\n");
        return 1;
    }
    const unsigned char key[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const unsigned char wrong[6] = {};
    unsigned char serial[4], answer, data[16] = {};
    char text[VESK_MESSAGE_SIZE];
    int code = 0;
    long failures = 0;
    for (long i = 0; i < n; ++i) {
        failures += Quen_ConnectVelm40(1, 115200) != 0;
        failures += Quen_ControlBuzzer() != 0;
        failures += MF_ReadSeriesNo(serial) != 0;
        failures += Quen_RequestCardExist(serial, &answer) != 0;
        failures += Quen_Login_With_UserKey(1, key, 0) != 0;
        failures += Quen_ReadBlock(1, 1, data) != 0;
        failures += Quen_WriteBlock(1, 1, data) != 0;
        failures += Quen_ReadBlock(2, 0, data) != 0;             // not authenticated: recorded
        failures += Quen_Login_With_UserKey(1, wrong, 1) != 0;   // wrong key: recorded
        failures += Quen_SleepCard() != 0;
        failures += Quen_SleepCard() != 0;                       // already halted: recorded
        SetLastErrMsg(-1, "host %d", static_cast<int>(i));
        Quen_GetLastErr(&code, text);
        failures += GetMFLastErr();
        Quen_CloseVelm40();
    }
    std::printf("%ld rounds, %ld failures\n", n, failures);
    return 0;
}
