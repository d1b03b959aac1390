// Loads one DLL, drives it where it fails inside, unloads it once it says it
// may go, and goes on: new threads, the DLL loaded and unloaded again. Run
// by unload_test as a child, because a callback left behind in the unloaded
// image fires only as threads and the process end: the exit status 0 is the
// verdict, any other value names the step that went wrong.
//   frame_unload_child ui|sp|probe DLL-PATH
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "uiplugin/frame/oem_contract.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, LPVOID *);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE *)();
using VendorSetupFn = VOID(WINAPI *)(HWND, HINSTANCE, LPSTR, UINT);
using ThrowInsideFn = int (*)(int);

template <class Fn>
Fn Export(HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

// The plug-in's failing paths: unknown class and interface, device modes
// that are short, foreign or garbage, a helper that is not one.
bool DriveUi(HMODULE module) {
    auto getClassObject = Export<GetClassObjectFn>(module, "DllGetClassObject");
    auto canUnloadNow = Export<CanUnloadNowFn>(module, "DllCanUnloadNow");
    if (getClassObject == nullptr || canUnloadNow == nullptr) return false;
    void *none = nullptr;
    if (getClassObject(IID_IUnknown, IID_IClassFactory, &none) != CLASS_E_CLASSNOTAVAILABLE) return false;
    IClassFactory *factory = nullptr;
    if (FAILED(getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void **>(&factory)))) return false;
    IPrintOemUI *plugin = nullptr;
    HRESULT hr = factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void **>(&plugin));
    factory->Release();
    if (FAILED(hr) || plugin == nullptr) return false;

    std::vector<unsigned char> in(576), out(576);
    const unsigned char fills[] = {0x00, 0xFF, 0x5A};
    const DWORD sizes[] = {0, 8, 575, 576, 0xFFFFFFFF};
    for (DWORD mode : {DWORD{OEMDM_DEFAULT}, DWORD{OEMDM_CONVERT}, DWORD{OEMDM_MERGE}}) {
        for (unsigned char fill : fills) {
            for (DWORD size : sizes) {
                std::memset(in.data(), fill, in.size());
                // A record whose header claims other sizes and signatures than ours.
                std::memcpy(in.data(), &size, sizeof size);
                OEMDMPARAM param = {};
                param.cbSize = sizeof param;
                param.pOEMDMIn = in.data();
                param.pOEMDMOut = out.data();
                param.cbBufSize = static_cast<DWORD>(out.size());
                plugin->DevMode(mode, &param);
            }
        }
    }
    plugin->DevMode(OEMDM_MERGE, nullptr);
    plugin->PublishDriverInterface(nullptr);
    plugin->Release();
    return canUnloadNow() == S_OK;
}

// The setup hook on command lines naming no printer there is.
bool DriveSp(HMODULE module) {
    auto vendorSetup = Export<VendorSetupFn>(module, "VendorSetup");
    if (vendorSetup == nullptr) return false;
    const char *lines[] = {"", "\"", "\"\"", "\"QX748 no such printer\"", "QX748 no such printer,winspool,Ne99:",
                           "\"unterminated"};
    for (const char *line : lines) {
        std::string copy = line;
        vendorSetup(nullptr, nullptr, &copy[0], 0);
    }
    vendorSetup(nullptr, nullptr, nullptr, 0);
    return true;
}

bool DriveProbe(HMODULE module) {
    auto throwInside = Export<ThrowInsideFn>(module, "ThrowInside");
    if (throwInside == nullptr) return false;
    for (int i = 1; i <= 3; ++i)
        if (throwInside(i) != i) return false;
    return throwInside(0) == 0;
}

bool Drive(const std::string &kind, HMODULE module) {
    if (kind == "ui") return DriveUi(module);
    if (kind == "sp") return DriveSp(module);
    return DriveProbe(module);
}

LONG WINAPI EndOnFault(EXCEPTION_POINTERS *e) {
    TerminateProcess(GetCurrentProcess(), e != nullptr && e->ExceptionRecord != nullptr
                                              ? e->ExceptionRecord->ExceptionCode
                                              : 99);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI Idle(LPVOID) { return 7; }

// A new thread starts and ends: each thread end runs the callbacks
// registered per thread.
bool RunThread() {
    HANDLE thread = CreateThread(nullptr, 0, Idle, nullptr, 0, nullptr);
    if (thread == nullptr) return false;
    DWORD code = 0;
    const bool ok = WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &code) && code == 7;
    CloseHandle(thread);
    return ok;
}

// A thread that has used the DLL and ends after the DLL is gone.
struct Worker {
    std::string kind;
    HMODULE module;
    HANDLE go;
    bool ok = false;
};

DWORD WINAPI UseThenWait(LPVOID p) {
    auto *w = static_cast<Worker *>(p);
    w->ok = Drive(w->kind, w->module);
    WaitForSingleObject(w->go, 30000);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: frame_unload_child ui|sp|probe DLL-PATH\n");
        return 2;
    }
    // A fault ends the process with its code instead of waiting for a
    // debugger (Wine starts one for unhandled faults, and it may never end).
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndOnFault);
    const std::string kind = argv[1];
    std::wstring path;
    for (const char *c = argv[2]; *c; ++c) path += static_cast<wchar_t>(*c == '/' ? '\\' : *c);

    for (int round = 0; round < 2; ++round) {
        HMODULE module = LoadLibraryW(path.c_str());
        if (module == nullptr) return 10;
        if (!Drive(kind, module)) return 11;
        Worker worker{kind, module, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        HANDLE thread = worker.go ? CreateThread(nullptr, 0, UseThenWait, &worker, 0, nullptr) : nullptr;
        if (thread == nullptr) return 12;
        // The worker has driven the DLL and waits: unload under it.
        for (int i = 0; i < 3000 && !worker.ok && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; ++i) Sleep(10);
        if (!worker.ok) return 13;
        if (kind == "ui") {
            auto canUnloadNow = Export<CanUnloadNowFn>(module, "DllCanUnloadNow");
            if (canUnloadNow() != S_OK) return 14;
        }
        if (!FreeLibrary(module)) return 15;
        if (GetModuleHandleW(path.c_str()) != nullptr) return 16;  // still mapped: nothing was tested
        SetEvent(worker.go);
        if (WaitForSingleObject(thread, 30000) != WAIT_OBJECT_0) return 17;
        CloseHandle(thread);
        CloseHandle(worker.go);
        if (!RunThread()) return 18;
    }
    std::printf("unloaded cleanly\n");
    std::fflush(stdout);
    return 0;
}
