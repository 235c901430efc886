// The in-game system menu and the check that runs after every page wait.
#pragma once

// Runs the menu until the player leaves it; confirming the way back to the title sets the
// current scenario's exit request with the result code "sys_exit".
void InGameMenu();
// After a page wait: the menu on an allowed right click (true: wait again), the court record
// when its button was clicked.
bool HandleSystemButtons();
