// qx748: the command-line companion. Each command lives in its own
// cmd_*.cpp; this file only dispatches through the table below.
#include <cstdio>
#include <cstring>
#include <exception>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "qx_version.h"
#include "tools/qx748/cli.h"

// Command entries (one per cmd_*.cpp).
int RunDevmodeCommand(int argc, char **argv);
int RunCorrectCommand(int argc, char **argv);
int RunPreviewCommand(int argc, char **argv);

namespace {

struct Command {
    const char *name;
    qx::cli::CommandFn run;
    const char *summary;
};

const Command kCommands[] = {
    {"devmode", RunDevmodeCommand, "create, convert, merge and show the private device-mode block"},
    {"correct", RunCorrectCommand, "apply the colour corrections to a 24-bit BMP as the preview does"},
    {"preview", RunPreviewCommand, "write the picture the preview shows, corrected, before stretching"},
};

void PrintUsage(std::FILE *to) {
    std::fprintf(to,
                 "usage: qx748 COMMAND [ARGS...]\n"
                 "       qx748 COMMAND --help\n"
                 "       qx748 --version\n\n"
                 "commands:\n");
    for (const Command &c : kCommands) std::fprintf(to, "  %-10s %s\n", c.name, c.summary);
}

}  // namespace

int main(int argc, char **argv) {
#if defined(_WIN32)
    // Text ends its lines with LF on every system, so output compares byte
    // for byte with the Linux tool's (and golden files stay portable).
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    if (argc < 2) {
        std::fprintf(stderr, "qx748: no command given (see qx748 --help)\n");
        return qx::cli::kExitError;
    }
    const char *word = argv[1];
    if (std::strcmp(word, "--version") == 0) {
        std::printf("qx748 %s\n", QX748_VERSION_TEXT);
        return 0;
    }
    if (std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    for (const Command &c : kCommands) {
        if (std::strcmp(word, c.name) != 0) continue;
        try {
            return c.run(argc - 1, argv + 1);
        } catch (const qx::cli::Error &e) {
            std::fprintf(stderr, "qx748: %s\n", e.what());
        } catch (const std::exception &e) {
            std::fprintf(stderr, "qx748: %s: %s\n", c.name, e.what());
        }
        return qx::cli::kExitError;
    }
    std::fprintf(stderr, "qx748: unknown command '%s' (see qx748 --help)\n", word);
    return qx::cli::kExitError;
}
