// Hooks through which the script machine reaches its neighbours: the error box, ending every task,
// the message pump and the imaging library's sine table.
#pragma once

#include <cstdint>

// The services the machine needs from units above it. The engine shell, the task unit and the
// imaging library install the real ones at start-up; tests install fakes. A hook left null falls
// back to the default described beside it.
struct VmServices {
  // Shows a modal box with the cp932 text and caption and the MessageBoxA type bits; gives the box's
  // result. Default: writes caption and text to stderr and gives 1 (IDOK).
  int (*message_box)(const char* text, const char* caption, uint32_t type) = nullptr;
  // Sets the end flag of every task of the task list (the Exit built-in without a context).
  // Default: does nothing (no task list exists).
  void (*exit_all_tasks)() = nullptr;
  // Dispatches the pending window messages; the result is not used. Default: does nothing.
  void (*pump_messages)() = nullptr;
  // 5120 floats: entry i = sin(i * 2pi / 4096). Default: the machine's own copy, filled by the
  // same rule on first use.
  const float* sin_table = nullptr;
};

// Replaces the installed services; the previous set is returned so tests can put it back.
VmServices SetVmServices(const VmServices& services);
const VmServices& GetVmServices();

// Calls through the installed hooks (or their defaults).
int VmMessageBox(const char* text, const char* caption, uint32_t type);
void VmExitAllTasks();
void VmPumpMessages();
const float* VmSinTable();
