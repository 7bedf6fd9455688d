// Shared test fixtures: the recording reader, the last-error record, GBK.
#ifndef VESK_TESTS_HARNESS_H
#define VESK_TESTS_HARNESS_H

#include <string>
#include <vector>

#include "Vesk_RD.h"
#include "recorder/recorder_control.h"

namespace vt {

// Converts UTF-8 to GBK, independently of the library's escapes: iconv on
// POSIX, the system's code page 936 tables on Windows.
std::string gbk(const std::string &utf8);

// Full path of the running test program.
std::string executable_path();

// Keeps the load-failure notice of Vesk_RD from the user while it lives
// (stderr captured; on Windows the message box caught), for tests that
// provoke the notice but check it elsewhere.
class QuietNotice {
  public:
    QuietNotice();
    ~QuietNotice();
    QuietNotice(const QuietNotice &) = delete;
    QuietNotice &operator=(const QuietNotice &) = delete;

  private:
    void *state_;
};

struct Record {
    int code;
    std::string text;
};
Record last_error();

// Text of a catalogue entry, formatted the way the library must format it.
std::string gbk_format(const std::string &utf8_format, int value);

// The recording reader library, loaded by its full path so that Vesk_RD's
// load finds the same object: by its SONAME on POSIX, as the already loaded
// module RfReader.dll on Windows.
class Recorder {
  public:
    explicit Recorder(const std::string &variant = "complete");
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    static std::string path(const std::string &variant);

    void reset() { reset_(); }
    void script(const char *entry, int nth, int status) { script_(entry, nth, status); }
    void serial(int nth, unsigned int value) { serial_(nth, value); }
    void answer(unsigned char value) { answer_(value); }
    void read_data(const unsigned char *data20) { read_data_(data20); }
    std::vector<std::string> calls() const;
    // Drops this test's reference; the object goes away once Vesk_RD holds none.
    void unload();

  private:
    void *handle_ = nullptr;
    rec_reset_fn reset_ = nullptr;
    rec_script_fn script_ = nullptr;
    rec_serial_fn serial_ = nullptr;
    rec_answer_fn answer_ = nullptr;
    rec_read_data_fn read_data_ = nullptr;
    rec_count_fn count_ = nullptr;
    rec_call_fn call_ = nullptr;
};

// Connects through the recorder (handle 7) and clears its log, so a test
// sees only the calls of the operation under test.
void connect_and_clear(Recorder &rec);

std::string hex(const unsigned char *bytes, int n);

}  // namespace vt

#endif
