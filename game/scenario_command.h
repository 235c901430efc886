// The scenario command interpreter: recognises the game's commands, reads and checks their
// options and calls the handlers that do the work.
#pragma once

#include <cstddef>
#include <cstdint>

// Executes one command line (leading blanks skipped, starting with '@') in a scenario of the given
// kind (0 normal, 1 cross-examination). Errors stop the play.
void ExecScenarioCommand(const char* line, int32_t kind);

// The number of command names the interpreter knows.
size_t ScenarioCommandCount();
// The name of command i in the order the interpreter tests them (with its '@').
const char* ScenarioCommandName(size_t i);
