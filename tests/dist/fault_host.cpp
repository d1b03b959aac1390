// Loads fault_probe.dll and calls it; when it faults, prints what the
// platform's event log would show: the faulting module and the fault
// offset (the fault address minus the module's base), writes a minidump
// when given a path for it, as the platform's error reporting would, then
// exits 3.
#include <windows.h>
#include <dbghelp.h>

#include <cstdio>

static const char* dump_path = nullptr;

static LONG CALLBACK report_fault(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
  auto address = reinterpret_cast<ULONG_PTR>(info->ExceptionRecord->ExceptionAddress);
  HMODULE module = nullptr;
  wchar_t name[MAX_PATH] = L"?";
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(address), &module)) {
    GetModuleFileNameW(module, name, MAX_PATH);
  }
  const wchar_t* base = name;
  for (const wchar_t* p = name; *p; ++p) {
    if (*p == L'\\' || *p == L'/') base = p + 1;
  }
  std::printf("Faulting module %ls, fault offset 0x%08llx\n", base,
              static_cast<unsigned long long>(address - reinterpret_cast<ULONG_PTR>(module)));
  if (dump_path) {
    HANDLE file = CreateFileA(dump_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    MINIDUMP_EXCEPTION_INFORMATION exception = {GetCurrentThreadId(), info, FALSE};
    BOOL written = file != INVALID_HANDLE_VALUE &&
                   MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &exception,
                                     nullptr, nullptr);
    DWORD error = written ? 0 : GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (written) {
      std::printf("minidump written\n");
    } else {
      std::printf("minidump FAILED (error %lu)\n", error);
    }
  }
  std::fflush(stdout);
  ExitProcess(3);
}

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: fault_host PROBE.dll [DUMP.dmp]\n");
    return 2;
  }
  if (argc == 3) dump_path = argv[2];
  HMODULE probe = LoadLibraryA(argv[1]);
  auto call = probe ? reinterpret_cast<int (*)(int)>(GetProcAddress(probe, "qx_probe_fault")) : nullptr;
  if (!call) {
    std::fprintf(stderr, "fault_host: cannot load qx_probe_fault from %s (%lu)\n", argv[1], GetLastError());
    return 2;
  }
  AddVectoredExceptionHandler(1, report_fault);
  int r = call(7);
  std::printf("no fault (%d)\n", r);
  return 1;
}
