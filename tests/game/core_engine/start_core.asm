; Loads the game plug-in beside this script, selects its function "start" and calls it once.
.globals 4
.file "start_core.asm"
.method main
.export 0
        .line 5
        OpSetString g1, "core"
        .builtin 224, g1          ; LoadPlugin "core"
        OpSetString g2, "start"
        .builtin 225, g2          ; GetPluginFunction "start": the result slot
        OpMove g3, g0
        .builtin 227, g3          ; SetPlugin
        .builtin 228              ; CallPlugin: start returns 1, the script goes on
        OpHalt
