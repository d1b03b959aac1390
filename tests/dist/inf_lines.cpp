// Reads an INF file through the platform's setupapi and prints what an
// installer takes from it, one fact a line:
//   manufacturer NAME SECTION DECORATION...
//   models SECTION.DECORATION COUNT
//   disk PLATFORM ID PATH
//   file PLATFORM NAME DISK-ID
//   vendorsetup SECTION VALUE
// Exit 1 when setupapi does not open the file (the line it stopped at is
// printed), 2 on a usage error.
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string narrow(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring field(INFCONTEXT* ctx, DWORD index) {
    DWORD need = 0;
    if (!SetupGetStringFieldW(ctx, index, nullptr, 0, &need) || need == 0) return {};
    std::wstring s(need, L'\0');
    if (!SetupGetStringFieldW(ctx, index, s.data(), need, nullptr)) return {};
    s.resize(need - 1);
    return s;
}

// Every line of a section, as its fields (0 = the key).
std::vector<std::vector<std::wstring>> lines(HINF inf, const std::wstring& section) {
    std::vector<std::vector<std::wstring>> out;
    INFCONTEXT ctx;
    if (!SetupFindFirstLineW(inf, section.c_str(), nullptr, &ctx)) return out;
    do {
        std::vector<std::wstring> f;
        DWORD count = SetupGetFieldCount(&ctx);
        for (DWORD i = 0; i <= count; ++i) f.push_back(field(&ctx, i));
        out.push_back(f);
    } while (SetupFindNextLine(&ctx, &ctx));
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: inf_lines FILE.inf\n");
        return 2;
    }
    UINT error_line = 0;
    HINF inf = SetupOpenInfFileW(argv[1], nullptr, INF_STYLE_WIN4, &error_line);
    if (inf == INVALID_HANDLE_VALUE) {
        std::printf("error opening the INF: code %lu at line %u\n", GetLastError(), error_line);
        return 1;
    }
    std::vector<std::wstring> model_sections;
    for (const auto& f : lines(inf, L"Manufacturer")) {
        std::string text = "manufacturer " + narrow(f[0]);
        for (size_t i = 1; i < f.size(); ++i) text += " " + narrow(f[i]);
        std::printf("%s\n", text.c_str());
        for (size_t i = 2; i < f.size(); ++i) model_sections.push_back(f[1] + L"." + f[i]);
    }
    for (const auto& section : model_sections) {
        auto models = lines(inf, section);
        std::printf("models %s %u\n", narrow(section).c_str(), static_cast<unsigned>(models.size()));
        for (const auto& m : models) {
            if (m.size() < 2) continue;
            for (const auto& v : lines(inf, m[1]))
                if (_wcsicmp(v[0].c_str(), L"VendorSetup") == 0 && v.size() > 1)
                    std::printf("vendorsetup %s %s\n", narrow(m[1]).c_str(), narrow(v[1]).c_str());
        }
    }
    for (const wchar_t* platform : {L"amd64", L"arm64", L"x86"}) {
        for (const auto& d : lines(inf, std::wstring(L"SourceDisksNames.") + platform))
            std::printf("disk %s %s %s\n", narrow(platform).c_str(), narrow(d[0]).c_str(),
                        d.size() > 4 ? narrow(d[4]).c_str() : "");
        for (const auto& f : lines(inf, std::wstring(L"SourceDisksFiles.") + platform))
            std::printf("file %s %s %s\n", narrow(platform).c_str(), narrow(f[0]).c_str(),
                        f.size() > 1 ? narrow(f[1]).c_str() : "");
    }
    SetupCloseInfFile(inf);
    return 0;
}
