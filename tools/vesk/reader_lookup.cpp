#include "os.h"
#include "vesk.h"

namespace vesk::tool {

std::vector<std::string> reader_candidates(const std::string &name, const std::string &exe_dir) {
    // The build tree: build/bin/vesk beside build/readers/<name>/. Install
    // layouts add their folders here.
    return {exe_dir + "/../readers/" + name + "/" + os::kReaderFileName};
}

bool resolve_reader(const std::string &choice, std::string *path, std::string *error) {
    if (choice == "sim" || choice == "pcsc") {
        std::string exe_dir = os::executable_dir();
        if (exe_dir.empty()) {
            *error = "cannot tell where vesk lives to find the '" + choice + "' reader library";
            return false;
        }
        std::string looked;
        for (const auto &candidate : reader_candidates(choice, exe_dir)) {
            if (os::is_regular_file(candidate)) {
                *path = candidate;
                return true;
            }
            looked += "\n  " + candidate;
        }
        *error = "the '" + choice + "' reader library is not built; looked for:" + looked;
        return false;
    }
    if (!os::is_regular_file(choice)) {
        *error = "--reader: no reader library file '" + choice + "' (give sim, pcsc or a path)";
        return false;
    }
    *path = choice;
    return true;
}

}  // namespace vesk::tool
