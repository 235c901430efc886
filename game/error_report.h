// Error reports of the game: message boxes through the engine, the error position, DExceptGame.
#pragma once

#include <cstddef>
#include <cstdint>

// The game's exception: thrown by value by every fatal report, by the player's exit and by the
// engine's close request; caught only by start.
class DExceptGame {};

// Size of the buffer every report is formatted into (2,071 characters and the NUL).
inline constexpr size_t kReportBufferSize = 2072;
// Size of the error file name (263 characters and the NUL).
inline constexpr size_t kErrorFileSize = 264;

// Formats the message, writes it and "\n" to the debug log, shows it in a box captioned
// "Tale Frame" (one OK button) and throws DExceptGame. Longer messages are cut at a character
// boundary to fit the buffer.
[[noreturn]] void FatalError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// As FatalError, but returns when the box is closed.
void WarningMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// FatalError with the error file and line in front of the formatted message.
[[noreturn]] void ScriptError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Throws DExceptGame without a message: the orderly ways out of the game.
[[noreturn]] void ThrowGameExit();

// Reports of a fixed shape, headed by the error file and line.
[[noreturn]] void TagOptionError(const char* tag, const char* option);
[[noreturn]] void TagError(const char* tag);
[[noreturn]] void CommandOptionError(const char* command, const char* option);
[[noreturn]] void CommandError(const char* command);
[[noreturn]] void WordError(const char* word);
[[noreturn]] void CommandOptionValueError(const char* command, const char* option, const char* value);

// The error position: the file being read and its line. It is never reset; before any reader
// stored one it is an empty name and line 0.
void SetErrorFile(const char* name);  // name (cut to 263 bytes), line 0
void SetErrorPosition(const char* name, int32_t line);
void NextErrorLine();
void ClearErrorLine();
const char* ErrorFileName();
int32_t ErrorLine();
