// Helpers shared by the built-in and export families of this folder.
#pragma once

#include <cstdint>

#include "base/dstring.h"
#include "vm/script_context.h"

// Path buffers of built-ins and exports: 263 bytes and the terminator.
inline constexpr uint32_t kApiPathSize = 264;

// A text argument copied into a buffer of its own, so converting another argument cannot
// overwrite it; cut at size - 1 bytes.
template <uint32_t Size>
struct TextArg {
  char text[Size];
  TextArg(ScriptContext* ctx, uint32_t k) {
    DString::CopyTo(DString(ctx->GetArg(k)->ToStaticString()), text, Size);
  }
};
using PathArg = TextArg<kApiPathSize>;

// Copies `source` (null counts as empty) into a path buffer, cut at 263 bytes.
void CopyPath(char* out, const char* source);
// The running task's directory, or the program's when no task runs.
const char* RunningDirectory();
// `path` made absolute against the running task's directory, cut at 263 bytes.
void ResolveAgainstTask(char* out, const char* path);

// Workers shared by built-ins and exports.
int32_t RandomRange(int32_t lower, int32_t upper);
int32_t RandomBetween(int32_t a, int32_t b);
// Ends every task of the task list (the Exit built-in and ovExit).
void ExitEngine();
bool SetDataFile(const char* path);
