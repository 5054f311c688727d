#include "core/command_line.h"

#include <cstring>

#ifndef VISTREL_VERSION
#define VISTREL_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: vistrel [--help | --version]\n"
    "       vistrel --toggle | --show\n"
    "\n"
    "Vistrel records one video camera: it shows the live picture, measures\n"
    "motion, records Motion-JPEG AVI files (always, on motion or by a daily\n"
    "timer), takes photos and serves the latest picture to a web browser.\n"
    "Without arguments it opens its window; only one copy runs at a time, and a\n"
    "second start shows the window of the running copy.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "  --toggle   hide or show the window of the running copy\n"
    "  --show     show and raise the window of the running copy\n"
    "             (both exit 1 when no copy runs)\n"
    "\n"
    "Settings: vistrel.ini beside the program when its folder is writable,\n"
    "otherwise ~/.config/vistrel/vistrel.ini; recordings and photos go to\n"
    "~/.local/share/vistrel/move and shot in that case.\n";

bool Is(const char* argument, const char* word) { return std::strcmp(argument, word) == 0; }

}  // namespace

int HandleCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    if (argc <= 1) return -1;
    if (argc == 2 && Is(argv[1], "--version")) {
        std::fprintf(out, "Vistrel %s\n", VISTREL_VERSION);
        return 0;
    }
    if (argc == 2 && Is(argv[1], "--help")) {
        std::fputs(kUsage, out);
        return 0;
    }
    if (RemoteWord(argc, argv)) return -1;
    if (argc == 3 && Is(argv[1], "-session") && argv[2][0] != '\0') return -1;
    std::fprintf(err, "vistrel: unknown argument: %s\n%s", argv[1], kUsage);
    return 2;
}

const char* RemoteWord(int argc, const char* const* argv) {
    if (argc != 2) return nullptr;
    if (Is(argv[1], "--toggle")) return "toggle";
    if (Is(argv[1], "--show")) return "show";
    return nullptr;
}
