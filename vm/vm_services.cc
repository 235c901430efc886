// Installed neighbour hooks of the script machine and their defaults.
#include "vm/vm_services.h"

#include <cmath>
#include <cstdio>

namespace {

VmServices g_services;

// Fills the fallback sine table by the imaging library's rule: double-precision sine stored as float.
// The table lives on the heap, made on first use and never freed: 20 KB in the program's zeroed data
// would lie between the small variables every start touches and spread them over more pages.
const float* DefaultSinTable() {
  static const float* table = [] {
    float* values = new float[5120];
    for (int i = 0; i < 5120; ++i) values[i] = static_cast<float>(std::sin(i * 2.0 * M_PI / 4096.0));
    return values;
  }();
  return table;
}

}  // namespace

VmServices SetVmServices(const VmServices& services) {
  VmServices old = g_services;
  g_services = services;
  return old;
}

const VmServices& GetVmServices() {
  return g_services;
}

int VmMessageBox(const char* text, const char* caption, uint32_t type) {
  if (g_services.message_box) return g_services.message_box(text, caption, type);
  std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
  return 1;
}

void VmExitAllTasks() {
  if (g_services.exit_all_tasks) g_services.exit_all_tasks();
}

void VmPumpMessages() {
  if (g_services.pump_messages) g_services.pump_messages();
}

const float* VmSinTable() {
  return g_services.sin_table ? g_services.sin_table : DefaultSinTable();
}
