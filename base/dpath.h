// Paths and the command line: separators, directories, copying, wildcards, split and merge,
// absolute and relative paths, and splitting a command line into arguments.
#pragma once

#include <cstdint>

#include "base/dreflist.h"
#include "base/dstring.h"

// Paths are cp932 text; every routine steps over double-byte characters, so a trail byte equal
// to a separator is never taken for one. "/" and "\" are both separators; joined paths use "/".
// Output buffers hold at least 264 bytes; every result is cut to 263 bytes and a NUL.
// Null output pointers are skipped.

// Turns every "\" that starts a character into "/" (in place).
void DConvSlashPath(char* path);
// Turns every "/" that starts a character into "\" (in place).
void DConvYenPath(char* path);
// Copies the source (cut to 263 bytes) and converts the copy like DConvSlashPath / DConvYenPath.
void DCopySlashPath(char* target, const DString& source);
void DCopyYenPath(char* target, const DString& source);

// True when the path exists and is a directory / a regular file.
bool DIsDir(const DString& path);
bool DIsFile(const DString& path);
// Creates the directory and every missing level above it; true when it exists afterwards.
bool DCreateDir(const DString& path);
// Creates the destination's directory, then copies the file over any existing one. False when
// the destination has no directory part or either step fails.
bool DCopyFile(const DString& source, const DString& destination);

// True when the text matches the pattern: "?" matches one character, "*" any run of characters,
// every other character itself (case counts).
bool DIsWildPathCompare(const DString& pattern, const DString& text);

// Joins directory, name and extension: a "/" after a directory that lacks one, a "." before a
// non-empty extension; the result uses "/" separators.
void DMargePath(char* output, const DString& directory, const DString& name, const DString& extension);
// Splits a path into its directory (every segment before the last separator, each followed by
// "/", a drive such as "D:" kept as the first), name and extension (after the last ".").
void DSplitPath(const DString& path, char* directory, char* name, char* extension);
// The drive followed by DMargePath of the rest.
void DMakePathEx(char* output, const DString& drive, const DString& directory, const DString& name,
                 const DString& extension);
// DSplitPath, with a leading "X:" of the directory moved to the drive output.
void DSplitPathEx(const DString& path, char* drive, char* directory, char* name, char* extension);
// The same four routines writing into the buffers of DString handles (264 bytes each; a handle
// without a pointer is skipped).
void DMargePath(const DString& output, const DString& directory, const DString& name,
                const DString& extension);
void DSplitPath(const DString& path, const DString& directory, const DString& name, const DString& extension);
void DMakePathEx(const DString& output, const DString& drive, const DString& directory, const DString& name,
                 const DString& extension);
void DSplitPathEx(const DString& path, const DString& drive, const DString& directory, const DString& name,
                  const DString& extension);

// The path resolved against a rooted base directory ("." segments stay, ".." goes up one level,
// "..." two, and so on). A rooted path keeps the base's drive; a path on another drive, an empty
// argument or a relative base gives the path unchanged.
DStringBuffer DGetAbsolutePath(const DString& path, const DString& base);
// The rooted path made relative to a rooted base directory (levels up written as a segment of
// dots: "../" one, ".../" two). Directory names compare ignoring ASCII case. Paths on different
// drives (letters compared exactly), relative arguments or empty ones give the path unchanged.
DStringBuffer DGetRelativePath(const DString& path, const DString& base);

// Appends the arguments of a command line to the list and returns how many: blanks and tabs
// separate them; double quotes group text with blanks; two double quotes in a row give one.
uint32_t SplitCommandLine(DRefList<char>& list, const DString& text);
