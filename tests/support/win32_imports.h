// Test seams at a Windows module's import table: the slots through which a
// DLL calls the system. Replacing a slot changes what that one module calls
// and nothing else in the process.
#ifndef VESK_TESTS_WIN32_IMPORTS_H
#define VESK_TESTS_WIN32_IMPORTS_H

#include <windows.h>

#include <string>
#include <vector>

namespace vt::win32 {

// Points `module`'s import of `function` from `dll` at `replacement` and
// returns what the slot held, or null if the module does not import it.
void *patch_import(HMODULE module, const char *dll, const char *function, void *replacement);

// One message box the spied module asked for.
struct Notice {
    bool has_owner;
    std::string text;
    std::string caption;
    unsigned flags;
};

// Captures the MessageBoxA calls of one module (Vesk_RD.dll) instead of
// showing them, for as long as the spy lives. One spy at a time.
class MessageBoxSpy {
  public:
    explicit MessageBoxSpy(HMODULE module);
    ~MessageBoxSpy();
    MessageBoxSpy(const MessageBoxSpy &) = delete;
    MessageBoxSpy &operator=(const MessageBoxSpy &) = delete;

    bool attached() const { return original_ != nullptr; }
    const std::vector<Notice> &notices() const;

  private:
    HMODULE module_;
    void *original_;
};

}  // namespace vt::win32

#endif
