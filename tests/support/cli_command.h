#pragma once
// The shell words that start qx748 in the CLI tests. The tests are native
// programs; QX748_CMD in the environment replaces the built program with
// another command (the Windows builds run their qx748.exe under Wine this
// way, so every build is held to the same cases and the same bytes).
#include <cstdlib>
#include <string>

inline std::string Qx748Command() {
    const char *cmd = std::getenv("QX748_CMD");
    if (cmd != nullptr && *cmd != '\0') return cmd;
    return std::string("'") + QX748_EXE + "'";
}
