; The first sample: two cooperative tasks sharing globals, then frames paced until the window is
; closed. main starts a worker task (export 1) and yields; the worker adds 100 to g2 on each of its
; five turns. main then makes the method "onclose" the handler of the close event and waits for
; frames at 60 per second; closing the window runs the handler, which ends every task.
.globals 8
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
        OpSetInt g5, 0
        OpSetString g6, "onclose"
        .builtin 80, g5, g1, g6   ; SetEventName EVTSIG_CLOSE, this script, "onclose"
        OpSetInt g7, 60
        .builtin 15, g7           ; SetFPS 60
frame:  .builtin 18               ; WaitTime: one frame
        OpJump frame
.export 1
        .line 27
        OpSetInt g3, 5
work:   OpAddConstInt g2, 100
        .builtin 162
        OpSubConstInt g3, 1
        OpJumpIfNonZero g3, work
        OpHalt
.method onclose
        .line 34
        .builtin 64               ; Exit: every task ends
        OpHalt
