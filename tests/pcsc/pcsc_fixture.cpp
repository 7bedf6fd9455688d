#include "pcsc_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace pt {

const char *const kVpcdReader = "Virtual PCD 00 00";

namespace {

constexpr const char *kPcscdCandidates[] = {"/usr/sbin/pcscd", "/usr/local/sbin/pcscd", "/sbin/pcscd"};
constexpr const char *kVpcdConfig = "/etc/reader.conf.d/vpcd";

pid_t g_pcscd = -1;

std::string find_pcscd()
{
    for (const char *path : kPcscdCandidates)
        if (access(path, X_OK) == 0)
            return path;
    return "";
}

bool wait_until(int ms, const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Runs argv with stdout+stderr to `log`; the child dies with this process,
// so a crashed test leaves nothing behind.
pid_t spawn(const std::vector<std::string> &args, const std::string &log)
{
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(127);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        close(fd);
    }
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

bool reap(pid_t pid, int ms)
{
    return wait_until(ms, [pid] {
        int status;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

void terminate(pid_t pid)
{
    kill(pid, SIGTERM);
    if (!reap(pid, 5000)) {
        kill(pid, SIGKILL);
        reap(pid, 5000);
    }
}

std::vector<std::string> list_readers()
{
    std::vector<std::string> names;
    SCARDCONTEXT context;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return names;
    DWORD size = 0;
    if (SCardListReaders(context, nullptr, nullptr, &size) == SCARD_S_SUCCESS) {
        std::string buffer(size, '\0');
        if (SCardListReaders(context, nullptr, buffer.data(), &size) == SCARD_S_SUCCESS)
            for (const char *p = buffer.c_str(); *p; p += std::strlen(p) + 1)
                names.emplace_back(p);
    }
    SCardReleaseContext(context);
    return names;
}

}  // namespace

bool in_ci()
{
    const char *ci = std::getenv("CI");
    return ci && (std::strcmp(ci, "true") == 0 || std::strcmp(ci, "1") == 0);
}

bool pcscd_running()
{
    SCARDCONTEXT context;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return false;
    SCardReleaseContext(context);
    return true;
}

bool pcscd_started_here() { return g_pcscd > 0; }

std::string stack_unavailable()
{
    if (find_pcscd().empty())
        return "pcscd is not installed (apt-get install pcscd vsmartcard-vpcd)";
    if (access(kVpcdConfig, R_OK) != 0)
        return std::string("the vpcd virtual reader is not installed (no ") + kVpcdConfig +
               "; apt-get install vsmartcard-vpcd)";
    if (!pcscd_running() && geteuid() != 0)
        return "pcscd is not running and only root can start it here";
    return "";
}

std::string ensure_pcscd(const std::string &work_dir, const std::string &config_dir)
{
    if (pcscd_running())
        return config_dir.empty() ? "" : "a pcscd not started by this test is running";
    const std::string pcscd = find_pcscd();
    if (pcscd.empty())
        return "pcscd is not installed";
    std::vector<std::string> args = {pcscd, "--foreground", "--debug"};
    if (!config_dir.empty()) {
        args.push_back("--config");
        args.push_back(config_dir);
    }
    g_pcscd = spawn(args, work_dir + "/pcscd.log");
    if (g_pcscd < 0)
        return "cannot fork pcscd";
    // Ready when it answers; with the vpcd driver, once the reader is listed.
    const bool ready = wait_until(10000, [&] {
        int status;
        if (waitpid(g_pcscd, &status, WNOHANG) == g_pcscd) {
            g_pcscd = -1;
            return true;
        }
        return pcscd_running() && (!config_dir.empty() || reader_index(kVpcdReader) >= 0);
    });
    if (g_pcscd < 0)
        return "pcscd exited at start; see " + work_dir + "/pcscd.log";
    if (!ready) {
        stop_pcscd();
        return "pcscd did not come up within 10 s; see " + work_dir + "/pcscd.log";
    }
    return "";
}

void stop_pcscd()
{
    if (g_pcscd > 0)
        terminate(g_pcscd);
    g_pcscd = -1;
}

int reader_index(const std::string &reader)
{
    const std::vector<std::string> names = list_readers();
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == reader)
            return static_cast<int>(i);
    return -1;
}

bool wait_card(const std::string &reader, bool present, int ms)
{
    SCARDCONTEXT context;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return false;
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    bool reached = false;
    DWORD timeout = 0;
    for (;;) {
        const LONG rv = SCardGetStatusChange(context, timeout, &state, 1);
        if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT)
            break;
        const bool has = (state.dwEventState & SCARD_STATE_PRESENT) && !(state.dwEventState & SCARD_STATE_MUTE);
        if (rv == SCARD_S_SUCCESS && has == present) {
            reached = true;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        timeout = static_cast<DWORD>(left);
        state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    }
    SCardReleaseContext(context);
    return reached;
}

std::string make_work_dir()
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "pcsc";
    for (char &c : name)
        if (c == '/')
            c = '_';
    const fs::path dir = fs::path(VESK_PCSC_WORK_DIR) / (name + "." + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

void remove_work_dir(const std::string &dir)
{
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

std::string hex(const unsigned char *bytes, int n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

RunResult run(const std::vector<std::string> &argv, const std::vector<std::string> &env,
              const std::string &work_dir)
{
    const std::string out_path = work_dir + "/run.out", err_path = work_dir + "/run.err";
    const pid_t pid = fork();
    if (pid == 0) {
        for (const std::string &e : env) putenv(const_cast<char *>(e.c_str()));
        const int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    RunResult r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const auto slurp = [](const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    return r;
}

// ---- VirtualCard

VirtualCard::~VirtualCard() { stop(); }

bool VirtualCard::start(const std::string &work_dir, const std::vector<std::string> &args, std::string *why)
{
    stop();
    report_ = work_dir + "/vcard-counts.txt";
    std::remove(report_.c_str());
    std::vector<std::string> argv = {VESK_VCARD_PATH, "--report", report_};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = spawn(argv, work_dir + "/vcard.log");
    if (pid_ < 0) {
        *why = "cannot fork vesk-vcard";
        return false;
    }
    return true;
}

void VirtualCard::stop()
{
    if (pid_ > 0)
        terminate(pid_);
    pid_ = -1;
}

bool VirtualCard::running()
{
    if (pid_ <= 0)
        return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

bool VirtualCard::wait_exit(int ms)
{
    return wait_until(ms, [this] { return !running(); });
}

std::map<std::string, long> VirtualCard::counts() const
{
    std::map<std::string, long> out;
    std::ifstream in(report_);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            out[line.substr(0, eq)] = std::stol(line.substr(eq + 1));
    }
    return out;
}

long VirtualCard::count(const std::string &name) const
{
    const std::map<std::string, long> all = counts();
    const auto it = all.find(name);
    return it == all.end() ? -1 : it->second;
}

// ---- PcscTest

void PcscTest::SetUp()
{
    work_dir_ = make_work_dir();
    const std::string why = stack_unavailable();
    if (!why.empty())
        PT_UNAVAILABLE(why);
    const std::string failed = ensure_pcscd(work_dir_);
    if (!failed.empty())
        PT_UNAVAILABLE(failed);
    // A card left by an earlier test must be gone before this one lays its own.
    ASSERT_TRUE(wait_card(kVpcdReader, false, 5000)) << "the vpcd reader still holds a card";
    port_ = reader_index(kVpcdReader);
    if (port_ < 0)
        PT_UNAVAILABLE(std::string("pcscd runs without the reader ") + kVpcdReader);
}

void PcscTest::TearDown()
{
    card_.stop();
    if (pcscd_started_here())
        stop_pcscd();
    else
        wait_card(kVpcdReader, false, 5000);
    if (!HasFailure() && !IsSkipped())
        remove_work_dir(work_dir_);
    else
        std::printf("logs of the PC/SC stack: %s\n", work_dir_.c_str());
}

void EmptyReaderListTest::SetUp()
{
    work_dir_ = make_work_dir();
    const std::string why = stack_unavailable();
    if (!why.empty())
        PT_UNAVAILABLE(why);
    const std::string config = work_dir_ + "/reader.conf.d";
    fs::create_directories(config);
    const std::string failed = ensure_pcscd(work_dir_, config);
    if (!failed.empty())
        PT_UNAVAILABLE(failed);
}

void EmptyReaderListTest::TearDown()
{
    stop_pcscd();
    if (!HasFailure() && !IsSkipped())
        remove_work_dir(work_dir_);
}

void PcscTest::insert_card(const std::vector<std::string> &extra)
{
    std::string why;
    ASSERT_TRUE(card_.start(work_dir_, extra, &why)) << why;
    ASSERT_TRUE(wait_card(kVpcdReader, true, 10000)) << "the virtual card did not appear within 10 s";
}

void PcscTest::remove_card()
{
    card_.stop();
    ASSERT_TRUE(wait_card(kVpcdReader, false, 5000)) << "pcscd still sees the card 5 s after its removal";
}

std::string PcscTest::write_image(const std::string &name, const std::vector<unsigned char> &image)
{
    const std::string path = work_dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
    return path;
}

}  // namespace pt
