; The first sample: two cooperative tasks sharing globals. main starts a worker task (export 1),
; then yields; the worker adds 100 to g2 on each of its five turns. main ends with 0 when the
; worker's sum arrived in full, so the runner's exit code tells whether the machine worked.
.globals 5
.file "hello.asm"
.method main
.export 0
        .line 10
        OpSetString g1, ""
        OpSetInt g2, 1
        .builtin 66, g1, g2       ; CreateTask "", export 1: the worker
        OpSetInt g4, 8
turn:   .builtin 162              ; Yield: the worker takes a turn
        OpSubConstInt g4, 1
        OpJumpIfNonZero g4, turn
        .line 17
        OpSubConstInt g2, 501     ; 1 + 5 x 100 when every turn arrived
        OpMove g0, g2
        OpHalt
.export 1
        .line 21
        OpSetInt g3, 5
work:   OpAddConstInt g2, 100
        .builtin 162
        OpSubConstInt g3, 1
        OpJumpIfNonZero g3, work
        OpHalt
