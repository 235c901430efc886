; The sample game's script image: the start-up pass asks for the sprite system's mode, then main
; loads the game plug-in beside this image, selects its function "start" and calls it once. The
; whole game runs inside that call; when it returns the script ends and the engine closes.
.globals 4
.file "game.asm"
.method main
.export 0
        .line 9
        OpSetString g1, "core"
        .builtin 224, g1          ; LoadPlugin "core"
        OpSetString g2, "start"
        .builtin 225, g2          ; GetPluginFunction "start": the result slot
        OpMove g3, g0
        .builtin 227, g3          ; SetPlugin
        .builtin 228              ; CallPlugin: start returns 1 when the player leaves
        OpHalt
.method startupconfig
        .line 18
        OpSetString g0, "tss"
        OpHalt
