; Script files end to end: reads the two lines of "in.txt" beside the script, makes a directory,
; writes a new file there (the lines swapped, a number, a string and two existence answers),
; copies "in.txt" into a directory that does not exist yet, then ends every task.
.globals 16
.file "files.asm"
.method main
.export 0
        .line 8
        OpSetString g1, "in.txt"
        OpSetInt g2, 1
        .builtin 205, g1, g2        ; CreateFile "in.txt", read
        OpMove g3, g0
        .builtin 207, g3            ; SetFile
        .builtin 213, g4            ; ReadFileLine: "line one" (the CR goes)
        .builtin 213, g5            ; ReadFileLine: "line two"
        OpSetString g6, "out\\made"
        .builtin 125, g6            ; CreateDir, both levels
        OpSetString g1, "out/made/new.bin"
        OpSetInt g2, 6
        .builtin 205, g1, g2        ; CreateFile, write and start empty
        OpMove g3, g0
        .builtin 207, g3
        .builtin 222, g5            ; WriteFileLine "line two"
        .builtin 222, g4            ; WriteFileLine "line one"
        OpSetInt g7, -1
        .builtin 214, g7            ; WriteFileNumber: FF FF FF FF
        .builtin 216, g7            ; WriteFileString: "-1" and its NUL
        OpSetString g1, "in.txt"
        OpSetString g2, "copies\\deep\\in_copy.txt"
        .builtin 126, g1, g2        ; CopyFile
        OpMove g8, g0
        .builtin 214, g8            ; its result: 1
        OpSetString g1, "copies/deep/in_copy.txt"
        .builtin 129, g1            ; IsFileExist
        OpMove g8, g0
        .builtin 214, g8            ; 1
        OpSetString g1, "out/made"
        .builtin 130, g1            ; IsDirExist
        OpMove g8, g0
        .builtin 214, g8            ; 1
        OpSetInt g3, 0
        OpSetInt g0, 0
        .builtin 207, g3            ; no current file: the last reference goes, the file closes
        .builtin 64                 ; Exit
        OpHalt
