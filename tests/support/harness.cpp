#include "harness.h"

#include "os.h"

#include <cstdio>
#include <stdexcept>

namespace vt {

std::string gbk_format(const std::string &utf8_format, int value) {
    const std::string format = gbk(utf8_format);
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, format.c_str(), value);
    return buffer;
}

Record last_error() {
    int code = 12345;
    char text[VESK_MESSAGE_SIZE];
    if (Quen_GetLastErr(&code, text) != 0) throw std::runtime_error("Quen_GetLastErr failed");
    return {code, text};
}

std::string Recorder::path(const std::string &variant) {
    return os::recorder_dir() + "/" + variant + "/" + os::kReaderFileName;
}

template <typename Fn>
static Fn must(void *handle, const char *name) {
    void *p = os::find_symbol(handle, name);
    if (p == nullptr) throw std::runtime_error(std::string("recorder lacks ") + name);
    return reinterpret_cast<Fn>(p);
}

Recorder::Recorder(const std::string &variant) {
    handle_ = os::load_library(path(variant));
    reset_ = must<rec_reset_fn>(handle_, "rec_reset");
    script_ = must<rec_script_fn>(handle_, "rec_script");
    serial_ = must<rec_serial_fn>(handle_, "rec_serial");
    answer_ = must<rec_answer_fn>(handle_, "rec_answer");
    read_data_ = must<rec_read_data_fn>(handle_, "rec_read_data");
    count_ = must<rec_count_fn>(handle_, "rec_count");
    call_ = must<rec_call_fn>(handle_, "rec_call");
    reset_();
}

Recorder::~Recorder() { unload(); }

void Recorder::unload() {
    if (handle_ != nullptr) os::unload_library(handle_);
    handle_ = nullptr;
}

std::vector<std::string> Recorder::calls() const {
    std::vector<std::string> out;
    const int n = count_();
    for (int i = 0; i < n; ++i) out.emplace_back(call_(i));
    return out;
}

void connect_and_clear(Recorder &rec) {
    if (Quen_ConnectVelm40(1, 9600) != 0) throw std::runtime_error("connect through the recorder failed");
    rec.reset();
}

std::string hex(const unsigned char *bytes, int n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

}  // namespace vt
