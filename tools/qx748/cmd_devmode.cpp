// qx748 devmode: the private device-mode requests on files, and a decoder
// that shows every field of a block (bare, or found inside a larger dump).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/qx748/cli.h"
#include "tools/qx748/devmode_scan.h"
#include "uiplugin/settings/devmode_fields.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using qx::cli::Error;
using Bytes = std::vector<unsigned char>;

constexpr size_t kRecord = qx::kPrivateDevModeSize;

const char kDevmodeHelp[] =
    "usage: qx748 devmode SUBCOMMAND ...\n"
    "\n"
    "The plug-in's 576-byte private device-mode block, in a file.\n"
    "\n"
    "  default FILE        write the defaults into FILE (created zero-filled if missing)\n"
    "  convert IN OUT      convert IN into OUT, rewriting OUT in place\n"
    "  merge IN OUT        convert IN into OUT, then validate OUT\n"
    "  show FILE [--json]  print every field with its value and valid range\n"
    "\n"
    "Run 'qx748 devmode SUBCOMMAND --help' for details. Errors exit with status 2\n"
    "and leave every file as it was.\n";

const char kDefaultHelp[] =
    "usage: qx748 devmode default FILE\n"
    "\n"
    "Runs the OEMDM_DEFAULT request on the 576-byte block in FILE: header\n"
    "576 / 0x4E43504C / 1, unsharpAmount 5, unsharpRadius 10, unsharpThreshold 5,\n"
    "unsharpMask, naturalColor, orderId and orderIdEnabled 0, appliedFlag 1.\n"
    "Every other byte keeps its value. A missing FILE is created zero-filled\n"
    "first, which yields the complete default record.\n";

const char kConvertHelp[] =
    "usage: qx748 devmode convert IN OUT\n"
    "\n"
    "Runs the OEMDM_CONVERT request with IN as the block handed in and OUT as\n"
    "the block written; OUT is rewritten in place. When both carry the same\n"
    "signature, the first min(IN.dwSize, OUT.dwSize, 576) bytes of IN are copied;\n"
    "otherwise OUT's header is reset and its settings are zeroed. Both files\n"
    "must be 576 bytes.\n";

const char kMergeHelp[] =
    "usage: qx748 devmode merge IN OUT\n"
    "\n"
    "Runs the OEMDM_MERGE request: the conversion of 'convert', then the\n"
    "validation of OUT (header rewritten, out-of-range settings replaced by\n"
    "their defaults). OUT is rewritten in place. Both files must be 576 bytes.\n";

const char kShowHelp[] =
    "usage: qx748 devmode show FILE [--json]\n"
    "\n"
    "Prints every field of the block by name with its record offset, value,\n"
    "valid range and whether the value is in range. FILE is a bare 576-byte\n"
    "block, or a larger device-mode dump in which the block is found by its\n"
    "header (dwSize 576, signature 0x4E43504C); the offset found is printed.\n"
    "--json prints the same as one JSON object.\n";

Bytes ReadRecord(const std::string &path) {
    Bytes b = qx::cli::ReadFile(path);
    if (b.size() != kRecord)
        throw Error(path + ": " + std::to_string(b.size()) + " bytes, expected a 576-byte private device-mode block");
    return b;
}

std::vector<std::string> Words(int argc, char **argv, size_t expected, const char *usage,
                               const std::vector<std::string> &options = {},
                               std::vector<std::string> *flags = nullptr) {
    std::vector<std::string> words = qx::cli::SplitArgs(argc, argv, options, flags);
    if (words.size() != expected) throw Error(std::string("wrong number of arguments; ") + usage);
    return words;
}

int Default(int argc, char **argv) {
    if (qx::cli::WantsHelp(argc, argv)) return std::fputs(kDefaultHelp, stdout), 0;
    const std::string file = Words(argc, argv, 1, "usage: qx748 devmode default FILE")[0];
    Bytes record = qx::cli::FileExists(file) ? ReadRecord(file) : Bytes(kRecord, 0);
    qx::DevModeRequest request;
    request.privateOut = record.data();
    request.bufSize = kRecord;
    qx::RunDevModeRequest(qx::kDevModeDefault, request);
    qx::cli::WriteFileReplacing(file, record);
    std::printf("%s: defaults written\n", file.c_str());
    return 0;
}

int ConvertOrMerge(int argc, char **argv, uint32_t code, const char *help) {
    if (qx::cli::WantsHelp(argc, argv)) return std::fputs(help, stdout), 0;
    const char *name = code == qx::kDevModeMerge ? "merge" : "convert";
    const auto words = Words(argc, argv, 2, (std::string("usage: qx748 devmode ") + name + " IN OUT").c_str());
    const Bytes in = ReadRecord(words[0]);
    Bytes out = ReadRecord(words[1]);
    const bool sameSignature = std::memcmp(in.data() + qx::pdm::kSignature, out.data() + qx::pdm::kSignature, 4) == 0;
    qx::DevModeRequest request;
    request.privateIn = in.data();
    request.privateOut = out.data();
    request.bufSize = kRecord;
    qx::RunDevModeRequest(code, request);
    qx::cli::WriteFileReplacing(words[1], out);
    std::printf("%s: %s from %s (%s)\n", words[1].c_str(), code == qx::kDevModeMerge ? "merged" : "converted",
                words[0].c_str(),
                sameSignature ? "signatures match: values taken over" : "foreign signature: settings zeroed");
    return 0;
}

// ---- show ----

std::string JsonString(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

const char *TypeName(qx::FieldType t) {
    switch (t) {
    case qx::FieldType::U32: return "uint32";
    case qx::FieldType::I32: return "int32";
    case qx::FieldType::U16: return "uint16";
    case qx::FieldType::I16: return "int16";
    case qx::FieldType::Utf16Path: return "utf16[260]";
    case qx::FieldType::Carried: return "uint16";
    }
    return "?";
}

// Display form of a value: decimal, hexadecimal where the table says so,
// the path as a JSON-quoted string (also readable in the text form).
std::string ValueText(const unsigned char *record, const qx::FieldInfo &f) {
    if (f.type == qx::FieldType::Utf16Path) return JsonString(qx::PreviewPathUtf8(record));
    const int64_t v = qx::ReadFieldValue(record, f);
    char buf[32];
    if (f.hex)
        std::snprintf(buf, sizeof buf, "0x%0*llX", static_cast<int>(f.width * 2), static_cast<unsigned long long>(v));
    else
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
    return buf;
}

int Show(int argc, char **argv) {
    if (qx::cli::WantsHelp(argc, argv)) return std::fputs(kShowHelp, stdout), 0;
    std::vector<std::string> flags;
    const std::string file = Words(argc, argv, 1, "usage: qx748 devmode show FILE [--json]", {"--json"}, &flags)[0];
    const bool json = !flags.empty();
    const Bytes data = qx::cli::ReadFile(file);
    qx::cli::DumpScan scan;
    switch (qx::cli::ScanDevModeDump(data.data(), data.size(), scan)) {
    case qx::cli::DumpScanResult::kTooShort:
        throw Error(file + ": " + std::to_string(data.size()) +
                    " bytes, expected a 576-byte block or a larger device-mode dump");
    case qx::cli::DumpScanResult::kNoBlock:
        throw Error(file + ": no private block (dwSize 576, signature 0x4E43504C) in this " +
                    std::to_string(data.size()) + "-byte dump");
    case qx::cli::DumpScanResult::kFound: break;
    }
    const size_t offset = scan.offset;
    const std::vector<size_t> &others = scan.others;
    const bool bare = scan.bare;
    const unsigned char *record = data.data() + offset;
    bool allValid = true;
    for (size_t i = 0; i < qx::kPrivateDevModeFieldCount; ++i)
        allValid = qx::FieldIsValid(record, qx::kPrivateDevModeFields[i]) && allValid;

    if (json) {
        std::printf("{\n  \"file\": %s,\n  \"fileSize\": %zu,\n  \"bare\": %s,\n  \"offset\": %zu,\n",
                    JsonString(file).c_str(), data.size(), bare ? "true" : "false", offset);
        std::printf("  \"otherBlocks\": [");
        for (size_t i = 0; i < others.size(); ++i) std::printf("%s%zu", i ? ", " : "", others[i]);
        std::printf("],\n  \"allInRange\": %s,\n  \"fields\": [\n", allValid ? "true" : "false");
        for (size_t i = 0; i < qx::kPrivateDevModeFieldCount; ++i) {
            const qx::FieldInfo &f = qx::kPrivateDevModeFields[i];
            const bool text = f.type == qx::FieldType::Utf16Path;
            std::string value = text ? ValueText(record, f) : std::to_string(qx::ReadFieldValue(record, f));
            std::printf("    {\"name\": \"%s\", \"offset\": %u, \"width\": %u, \"type\": \"%s\", \"value\": %s, "
                        "\"range\": %s",
                        f.name, f.offset, f.width, TypeName(f.type), value.c_str(),
                        JsonString(qx::FieldRangeText(f)).c_str());
            if (f.ranged && !text) std::printf(", \"min\": %lld, \"max\": %lld", static_cast<long long>(f.min),
                                               static_cast<long long>(f.max));
            std::printf(", \"inRange\": %s}%s\n", qx::FieldIsValid(record, f) ? "true" : "false",
                        i + 1 < qx::kPrivateDevModeFieldCount ? "," : "");
        }
        std::printf("  ]\n}\n");
        return 0;
    }

    if (bare)
        std::printf("%s: private device-mode block (576 bytes)\n", file.c_str());
    else
        std::printf("%s: %zu-byte device-mode dump, private block at offset %zu (0x%zX)\n", file.c_str(),
                    data.size(), offset, offset);
    for (size_t o : others) std::printf("  another block header at offset %zu\n", o);
    std::printf("%-17s %6s %5s  %-12s %-40s %s\n", "field", "offset", "width", "value", "valid range", "");
    for (size_t i = 0; i < qx::kPrivateDevModeFieldCount; ++i) {
        const qx::FieldInfo &f = qx::kPrivateDevModeFields[i];
        std::printf("%-17s %6u %5u  %-12s %-40s %s\n", f.name, f.offset, f.width, ValueText(record, f).c_str(),
                    qx::FieldRangeText(f).c_str(), qx::FieldIsValid(record, f) ? "in range" : "OUT OF RANGE");
    }
    std::printf("%s\n", allValid ? "all fields in range" : "some fields out of range");
    return 0;
}

}  // namespace

int RunDevmodeCommand(int argc, char **argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        if (argc < 2) throw Error("devmode: no subcommand given (see qx748 devmode --help)");
        std::fputs(kDevmodeHelp, stdout);
        return 0;
    }
    const std::string sub = argv[1];
    if (sub == "default") return Default(argc - 1, argv + 1);
    if (sub == "convert") return ConvertOrMerge(argc - 1, argv + 1, qx::kDevModeConvert, kConvertHelp);
    if (sub == "merge") return ConvertOrMerge(argc - 1, argv + 1, qx::kDevModeMerge, kMergeHelp);
    if (sub == "show") return Show(argc - 1, argv + 1);
    throw Error("devmode: unknown subcommand '" + sub + "' (see qx748 devmode --help)");
}
