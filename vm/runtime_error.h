// Run-time errors of scripts: the error box with file and line, and the machine's error codes.
#pragma once

#include <cstdint>
#include <string>

class ScriptContext;

// Error codes raised through a context's error callback.
inline constexpr uint32_t kVmErrorMemoryAccess = 1;

// The box text: the message, then (when ctx is given and its image has source names) a line feed,
// a full-width space, the source file name (cut to 263 bytes), "内の", the line and "行目で発生".
std::string FormatRuntimeError(const char* message, const ScriptContext* ctx);

// Shows the text in a box titled "実行エラー" with the stop icon (type 0x10) and, once it is closed,
// sets the end flag of every task of the task list. ctx may be null.
void ReportRuntimeError(const char* message, const ScriptContext* ctx);

// The message of an error code: 1 and 500-512 have their own, any other "未知のエラー[%d]".
std::string VmErrorMessage(uint32_t code);

// The error callback of task contexts: ReportRuntimeError with the code's message.
void ReportVmErrorCode(ScriptContext* ctx, uint32_t code);
