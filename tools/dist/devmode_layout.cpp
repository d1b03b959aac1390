// The private device-mode block's layout as a Markdown table, straight from
// the field table the validation uses, so the integration guide cannot
// drift from the code.
//
//   qx_devmode_layout                 print the table
//   qx_devmode_layout --check FILE    exit 1 unless FILE's marked table is it
//   qx_devmode_layout --update FILE   rewrite FILE's marked table
//
// The table sits in FILE between a line starting with kBegin and a line
// starting with kEnd.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "uiplugin/settings/devmode_fields.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

const char kBegin[] = "<!-- devmode-layout:begin";
const char kEnd[] = "<!-- devmode-layout:end";

const char *TypeText(qx::FieldType t) {
    switch (t) {
    case qx::FieldType::U32: return "uint32";
    case qx::FieldType::I32: return "int32";
    case qx::FieldType::U16: return "uint16";
    case qx::FieldType::I16: return "int16";
    case qx::FieldType::Utf16Path: return "UTF-16 text, 260 units";
    case qx::FieldType::Carried: return "16 bits, carried";
    }
    return "?";
}

std::string Number(const qx::FieldInfo &f, int64_t v) {
    char buf[32];
    if (f.hex)
        std::snprintf(buf, sizeof buf, "0x%0*" PRIX64, static_cast<int>(f.width * 2), static_cast<uint64_t>(v));
    else
        std::snprintf(buf, sizeof buf, "%" PRId64, v);
    return buf;
}

std::string DefaultText(const qx::FieldInfo &f) {
    if (!f.hasDefault) return "none (kept)";
    if (f.type == qx::FieldType::Utf16Path) return "empty";
    return Number(f, f.defaultValue);
}

std::string Table() {
    std::ostringstream out;
    out << "| Offset | Settings offset | Size | Field | Type | Valid range | Default | Meaning |\n"
        << "|---:|---:|---:|---|---|---|---|---|\n";
    for (size_t i = 0; i < qx::kPrivateDevModeFieldCount; ++i) {
        const qx::FieldInfo &f = qx::kPrivateDevModeFields[i];
        const bool inSettings = f.offset >= qx::pdm::kSettings && f.offset < qx::pdm::kPreviewImagePath;
        out << "| " << f.offset << " | "
            << (inSettings ? std::to_string(f.offset - qx::pdm::kSettings) : std::string("—")) << " | " << f.width
            << " | `" << f.name << "` | " << TypeText(f.type) << " | " << qx::FieldRangeText(f) << " | "
            << DefaultText(f) << " | " << f.meaning << " |\n";
    }
    return out.str();
}

bool ReadLines(const char *path, std::vector<std::string> &lines) {
    std::ifstream in(path);
    if (!in) return false;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return true;
}

bool StartsWith(const std::string &s, const char *prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

// Index of the begin and end marker lines; false unless exactly one of each,
// in that order.
bool FindMarkers(const std::vector<std::string> &lines, size_t &begin, size_t &end) {
    size_t begins = 0, ends = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (StartsWith(lines[i], kBegin)) begin = i, ++begins;
        if (StartsWith(lines[i], kEnd)) end = i, ++ends;
    }
    return begins == 1 && ends == 1 && begin < end;
}

// The table must describe every byte of the record once, in order.
bool CoversRecord() {
    uint32_t next = 0;
    for (size_t i = 0; i < qx::kPrivateDevModeFieldCount; ++i) {
        const qx::FieldInfo &f = qx::kPrivateDevModeFields[i];
        if (f.offset != next) {
            std::fprintf(stderr, "field %s at offset %u, expected %u\n", f.name, f.offset, next);
            return false;
        }
        next += f.width;
    }
    if (next != qx::kPrivateDevModeSize) {
        std::fprintf(stderr, "fields end at %u, the record at %u\n", next, qx::kPrivateDevModeSize);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (!CoversRecord()) return 3;
    const std::string table = Table();
    if (argc == 1) {
        std::fputs(table.c_str(), stdout);
        return 0;
    }
    const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
    const bool update = argc == 3 && std::strcmp(argv[1], "--update") == 0;
    if (!check && !update) {
        std::fprintf(stderr, "usage: %s [--check FILE | --update FILE]\n", argv[0]);
        return 2;
    }
    const char *path = argv[2];
    std::vector<std::string> lines;
    if (!ReadLines(path, lines)) {
        std::fprintf(stderr, "%s: cannot read\n", path);
        return 2;
    }
    size_t begin = 0, end = 0;
    if (!FindMarkers(lines, begin, end)) {
        std::fprintf(stderr, "%s: needs exactly one '%s' line followed by one '%s' line\n", path, kBegin, kEnd);
        return 1;
    }
    std::string current;
    for (size_t i = begin + 1; i < end; ++i) current += lines[i] + "\n";
    if (check) {
        if (current == table) {
            std::printf("%s: device-mode layout table matches the code (%zu fields)\n", path,
                        qx::kPrivateDevModeFieldCount);
            return 0;
        }
        std::istringstream want(table), have(current);
        std::string w, h;
        for (size_t row = 1;; ++row) {
            const bool moreWant = static_cast<bool>(std::getline(want, w));
            const bool moreHave = static_cast<bool>(std::getline(have, h));
            if (!moreWant && !moreHave) break;
            if (moreWant && moreHave && w == h) continue;
            std::fprintf(stderr, "%s: table line %zu differs from the code\n  file: %s\n  code: %s\n", path, row,
                         moreHave ? h.c_str() : "(missing)", moreWant ? w.c_str() : "(none)");
            break;
        }
        std::fprintf(stderr, "regenerate with: %s --update %s\n", argv[0], path);
        return 1;
    }
    std::string text;
    for (size_t i = 0; i <= begin; ++i) text += lines[i] + "\n";
    text += table;
    for (size_t i = end; i < lines.size(); ++i) text += lines[i] + "\n";
    std::ofstream out(path, std::ios::trunc);
    out << text;
    if (!out.flush()) {
        std::fprintf(stderr, "%s: cannot write\n", path);
        return 2;
    }
    std::printf("%s: device-mode layout table written\n", path);
    return 0;
}
