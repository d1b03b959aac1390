// Shared plumbing of the qx748 commands.
#include "tools/qx748/cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace qx::cli {

bool WantsHelp(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    return false;
}

std::vector<std::string> SplitArgs(int argc, char **argv, const std::vector<std::string> &allowed,
                                   std::vector<std::string> *flags) {
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.size() > 1 && a[0] == '-') {
            if (std::find(allowed.begin(), allowed.end(), a) == allowed.end())
                throw Error("unknown option " + a + " (see --help)");
            if (flags != nullptr) flags->push_back(a);
        } else {
            words.push_back(a);
        }
    }
    return words;
}

bool FileExists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(path), ec);
}

std::vector<unsigned char> ReadFile(const std::string &path) {
    std::error_code ec;
    const std::filesystem::path p(path);
    if (!std::filesystem::exists(p, ec)) throw Error(path + ": no such file");
    if (!std::filesystem::is_regular_file(p, ec)) throw Error(path + ": not a regular file");
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw Error(path + ": cannot open: " + std::strerror(errno));
    std::vector<unsigned char> bytes;
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw Error(path + ": read error");
    return bytes;
}

void WriteFileReplacing(const std::string &path, const std::vector<unsigned char> &bytes) {
    const std::string tmp = path + ".qx748-tmp";
    std::FILE *f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr) throw Error(path + ": cannot write: " + std::strerror(errno));
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok) std::filesystem::rename(tmp, path, ec);
    if (!ok || ec) {
        std::filesystem::remove(tmp, ec);
        throw Error(path + ": write failed");
    }
}

}  // namespace qx::cli
