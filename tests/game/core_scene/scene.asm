; Starts the engine in its sprite system's mode, loads the plug-in "core_scene" beside this
; script, selects its function "start" and calls it once.
.globals 4
.file "scene.asm"
.method main
.export 0
        .line 6
        OpSetString g1, "core_scene"
        .builtin 224, g1          ; LoadPlugin
        OpSetString g2, "start"
        .builtin 225, g2          ; GetPluginFunction: the result slot
        OpMove g3, g0
        .builtin 227, g3          ; SetPlugin
        .builtin 228              ; CallPlugin
        OpHalt
.method startupconfig
        OpSetString g0, "tss"
        OpHalt
