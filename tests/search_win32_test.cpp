// Where Vesk_RD.dll looks for RfReader.dll. Each case lays out a host
// folder (the probe executable), a library folder (Vesk_RD.dll) and a
// working directory, puts recorder builds into some of them, and runs the
// probe there as a process of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

std::string folder_of(const std::string &path) { return path.substr(0, path.find_last_of("\\/")); }

bool same_path(const std::string &a, const std::string &b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

// A folder tree under %TEMP% that is removed again with everything in it.
class Scratch {
  public:
    explicit Scratch(const std::string &name) {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        root_ = std::string(temp) + "vesk-search-" + std::to_string(GetCurrentProcessId()) + "-" + name;
        make(root_);
    }
    ~Scratch() {
        for (auto it = files_.rbegin(); it != files_.rend(); ++it) DeleteFileA(it->c_str());
        for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) RemoveDirectoryA(it->c_str());
    }
    std::string folder(const std::string &name) {
        const std::string path = root_ + "\\" + name;
        make(path);
        return path;
    }
    std::string copy(const std::string &from, const std::string &to_folder, const std::string &as) {
        const std::string to = to_folder + "\\" + as;
        if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) throw std::runtime_error("cannot copy " + from);
        files_.push_back(to);
        return to;
    }
    std::string file(const std::string &name) {
        files_.push_back(root_ + "\\" + name);
        return files_.back();
    }

  private:
    void make(const std::string &path) {
        if (!CreateDirectoryA(path.c_str(), nullptr)) throw std::runtime_error("cannot make " + path);
        dirs_.push_back(path);
    }
    std::string root_;
    std::vector<std::string> dirs_;
    std::vector<std::string> files_;
};

// Runs the probe and returns its result file as key=value pairs (a key
// that repeats keeps its last value).
std::map<std::string, std::string> run_probe(const std::string &probe, const std::string &vesk,
                                             const std::string &cwd, const std::string &result) {
    std::string command = "\"" + probe + "\" \"" + vesk + "\" \"" + result + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(probe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &si, &pi))
        throw std::runtime_error("cannot start the probe: " + std::to_string(GetLastError()));
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (code != 0) throw std::runtime_error("the probe failed with " + std::to_string(code));
    std::map<std::string, std::string> out;
    std::ifstream in(result, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

struct Case {
    const char *name;
    // Recorder variant put as RfReader.dll into each folder, or null.
    const char *in_host_folder;
    const char *in_library_folder;
    const char *in_working_directory;
    int connect;
    // Folder the bound RfReader.dll was loaded from ("host", "library"), or
    // "" when none is loaded after the connect.
    const char *loaded_from;
};

const Case kCases[] = {
    {"BesideTheExecutable", "complete", nullptr, nullptr, 0, "host"},
    {"BesideVeskRdInAnotherFolder", nullptr, "complete", nullptr, 0, "library"},
    {"ExecutableFolderComesFirst", "complete", "complete", nullptr, 0, "host"},
    {"WorkingDirectoryOnlyIsNeverLoaded", nullptr, nullptr, "complete", -1, ""},
    {"PlantedInWorkingDirectoryIsPassedOver", nullptr, "complete", "complete", 0, "library"},
    {"MissingEntryPointIsFreedAgain", "missing_rf_halt", nullptr, nullptr, -2, ""},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class Search : public testing::TestWithParam<Case> {};

TEST_P(Search, FindsTheRightReaderLibrary) {
    const Case &c = GetParam();
    const std::string here = folder_of(vt::executable_path());
    Scratch scratch(c.name);
    const std::string host = scratch.folder("host");
    const std::string library = scratch.folder("library");
    const std::string cwd = scratch.folder("cwd");
    const std::string probe = scratch.copy(here + "\\vesk_search_probe.exe", host, "vesk_search_probe.exe");
    const std::string vesk = scratch.copy(here + "\\Vesk_RD.dll", library, "Vesk_RD.dll");
    const std::pair<const char *, std::string> places[] = {
        {c.in_host_folder, host}, {c.in_library_folder, library}, {c.in_working_directory, cwd}};
    for (const auto &[variant, folder] : places)
        if (variant != nullptr) scratch.copy(vt::Recorder::path(variant), folder, "RfReader.dll");

    auto result = run_probe(probe, vesk, cwd, scratch.file("result.txt"));

    EXPECT_EQ(result["connect"], std::to_string(c.connect));
    const std::string loaded = result["reader"];
    if (std::string(c.loaded_from).empty()) {
        EXPECT_EQ(loaded, "");
    } else {
        const std::string &expected = std::string(c.loaded_from) == "host" ? host : library;
        EXPECT_TRUE(same_path(folder_of(loaded), expected)) << loaded << " is not in " << expected;
    }
    if (c.connect == -1) {
        ASSERT_EQ(result["notices"], "1");
        EXPECT_EQ(result["owner"], "0");
        EXPECT_EQ(result["flags"], std::to_string(MB_OK | MB_ICONEXCLAMATION));
        EXPECT_TRUE(same_path(result["caption"], probe)) << result["caption"];
        EXPECT_EQ(result["text"], vt::gbk("动态库加载失败!"));
    } else {
        EXPECT_EQ(result["notices"], "0");
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Search, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
