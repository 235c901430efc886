// The master list of the engine's exported functions, in the order plug-ins bind them.
// No include guard: include it after defining
//   OV_EXPORT(position, name, return_type, (parameter list with names))
// Position is the 1-based binding order; every row's name is unique. This one list generates
// the linker's dynamic list, the declarations plug-ins include, the engine's {name, address}
// table and the game's binding table.
OV_EXPORT(1, ovGetWindow, HWND, (void))
OV_EXPORT(6, ovMessage, int, (const char* text, const char* caption, int flag))
OV_EXPORT(8, ovIsExit, int, (void))
OV_EXPORT(19, ovCheckSystemName, int, (const char* name))
