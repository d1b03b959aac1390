#include "tools/qx748/settings_args.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "tools/qx748/cli.h"
#include "uiplugin/correction/picture/col_file.h"
#include "uiplugin/settings/devmode_fields.h"
#include "uiplugin/settings/le_bytes.h"

namespace qx::cli {
namespace {

constexpr size_t kSettingsBegin = pdm::kSettings;
constexpr size_t kSettingsEnd = pdm::kSettings + sizeof(CorrectionSettings);

const FieldInfo *FindSettingsField(const std::string &name) {
    for (size_t i = 0; i < kPrivateDevModeFieldCount; ++i) {
        const FieldInfo &f = kPrivateDevModeFields[i];
        if (f.offset >= kSettingsBegin && f.offset < kSettingsEnd && name == f.name) return &f;
    }
    return nullptr;
}

int64_t ParseInteger(const std::string &text, const std::string &what) {
    if (text.empty()) throw Error(what + ": missing value");
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0') throw Error(what + ": '" + text + "' is not an integer");
    return v;
}

// NAME=VALUE on the 40-byte block, within the field's range (or its width).
void ApplySet(const std::string &assignment, unsigned char *block, const char *command) {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos) throw Error("--set " + assignment + ": expected NAME=VALUE");
    const std::string name = assignment.substr(0, eq);
    const FieldInfo *field = FindSettingsField(name);
    if (field == nullptr)
        throw Error("--set: unknown setting '" + name + "' (see qx748 " + command + " --help)");
    const int64_t value = ParseInteger(assignment.substr(eq + 1), "--set " + name);
    int64_t min = 0, max = 0;
    if (field->ranged) {
        min = field->min, max = field->max;
    } else if (field->type == FieldType::I32) {
        min = INT32_MIN, max = INT32_MAX;
    } else if (field->type == FieldType::I16) {
        min = INT16_MIN, max = INT16_MAX;
    } else {
        min = 0, max = field->width == 2 ? UINT16_MAX : UINT32_MAX;
    }
    if (value < min || value > max)
        throw Error("--set " + name + ": " + std::to_string(value) + " is outside " + std::to_string(min) + ".." +
                    std::to_string(max));
    unsigned char *p = block + (field->offset - kSettingsBegin);
    if (field->width == 4)
        StoreU32(p, static_cast<uint32_t>(value));
    else
        StoreU16(p, static_cast<uint16_t>(value));
}

int16_t Limit(int16_t v, int16_t lo, int16_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// A loaded block as the page's controls show it: sliders clamp, the check
// box reads back 1 or 0.
CorrectionSettings AsTheControlsShowIt(CorrectionSettings s) {
    for (int16_t *v : {&s.brightness, &s.contrast, &s.saturation, &s.cyanRed, &s.magentaGreen, &s.yellowBlue,
                       &s.resize})
        *v = Limit(*v, -10, 10);
    if (s.sharpness > 7) s.sharpness = 7;
    s.unsharpMask = s.unsharpMask == 1 ? 1 : 0;
    s.unsharpAmount = Limit(s.unsharpAmount, 0, 12);
    s.unsharpRadius = Limit(s.unsharpRadius, 1, 30);
    s.unsharpThreshold = Limit(s.unsharpThreshold, 0, 20);
    return s;
}

}  // namespace

bool TakeSettingsOption(int argc, char **argv, int &i, SettingsArgs &args) {
    const std::string word = argv[i];
    if (word != "--settings" && word != "--set") return false;
    if (i + 1 >= argc) throw Error(word + " needs a value");
    const std::string value = argv[++i];
    if (word == "--set") {
        args.sets.push_back(value);
    } else {
        if (!args.settingsFile.empty()) throw Error("--settings given twice");
        args.settingsFile = value;
    }
    return true;
}

CorrectionSettings ResolveSettings(const SettingsArgs &args, const char *command) {
    unsigned char block[sizeof(CorrectionSettings)];
    WriteCorrectionSettings(DefaultPrivateDevMode().settings, block);
    if (!args.settingsFile.empty()) {
        const std::vector<unsigned char> col = ReadFile(args.settingsFile);
        CorrectionSettings loaded;
        const ColError e = DecodeColorCorrectionFile(col.data(), col.size(), &loaded);
        if (e != ColError::kNone) throw Error(args.settingsFile + ": " + DescribeColError(e));
        WriteCorrectionSettings(AsTheControlsShowIt(loaded), block);
    }
    for (const std::string &s : args.sets) ApplySet(s, block, command);
    return ReadCorrectionSettings(block);
}

}  // namespace qx::cli
