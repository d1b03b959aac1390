#pragma once
// --settings FILE.COL and --set NAME=VALUE for commands that take correction
// settings: defaults, then the .COL block as the page's controls show it,
// then each --set in order.
#include <string>
#include <vector>

#include "uiplugin/settings/private_devmode.h"

namespace qx::cli {

struct SettingsArgs {
    std::string settingsFile;
    std::vector<std::string> sets;
};

// Takes argv[i] (and its value) when it is --settings or --set; true if it did.
bool TakeSettingsOption(int argc, char **argv, int &i, SettingsArgs &args);

// The settings the options describe; an Error for a bad file or --set.
CorrectionSettings ResolveSettings(const SettingsArgs &args, const char *command);

}  // namespace qx::cli
