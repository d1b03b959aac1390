// A DLL built by the release rules that faults at a known place, so that
// the symbolization test can turn the fault offset back into this function
// and line from the PDB alone.
#include <windows.h>

#include <string>

// Kept out of line and given work of its own, so that it has a body of its
// own in the image rather than being folded into its caller.
extern "C" __declspec(noinline) int qx_probe_write_fault(volatile int* target, int value) {
  std::string label = "probe " + std::to_string(value);
  if (label.size() > 100) return 0;
  *target = static_cast<int>(label.size());  // QX-PROBE-FAULT
  return *target + value;
}

extern "C" __declspec(dllexport) int qx_probe_fault(int value) {
  // The pointer comes from outside the compiler's view, so the write stays.
  volatile int* volatile target = nullptr;
  return qx_probe_write_fault(target, value);
}
