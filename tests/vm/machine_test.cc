// Tests of the instruction loop's decoded forms against the instructions' handlers: each program
// runs in the loop in chunks of instructions, and beside it in a second context whose instructions
// are each given to the handler directly; both must leave the same state after every chunk.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/vm/vm_fixture.h"

namespace {

using meiasm::Label;
using meiasm::Operand;
using meiasm::Text;

// fib(n, result) in the calling convention: reference pairs below the caller's frame size word.
void Fib(meiasm::Builder& b) {
  b.Bind("fib");
  b.OpPushBase();
  b.OpAddBase(-3);
  b.OpEnter(3);
  b.OpMove(L(0), S(-4));
  b.OpLt(L(1), L(0), G(0));
  b.OpJumpIfZero(L(1), Label{"rec"});
  b.OpMove(S(-6), L(0));
  b.OpJump(Label{"out"});
  b.Bind("rec");
  b.OpSub(L(2), L(0), G(0));
  b.OpAddConstInt(L(2), 1);
  b.OpPushRef(L(1));
  b.OpPushRef(L(2));
  b.OpPushWord(3);
  b.OpCall(0, Label{"fib"});
  b.OpDrop(5);
  b.OpSub(L(2), L(0), G(0));
  b.OpPushRef(L(2));
  b.OpPushRef(L(2));
  b.OpPushWord(3);
  b.OpCall(0, Label{"fib"});
  b.OpDrop(5);
  b.OpAdd(S(-6), L(1), L(2));
  b.Bind("out");
  b.OpLeave(3);
  b.OpPopBase();
  b.OpReturn();
}

struct Program {
  const char* name;
  std::function<void(meiasm::Builder&)> build;
  const char* errors = "errors";  // the error codes the run raises (null: only compared with the handlers')
};

// A function opening a frame of n slots: the frame base moves past the caller's frame (the size word
// below the return address), as the calling convention does.
void Function(meiasm::Builder& b, const std::string& name, uint32_t n, const std::function<void()>& body) {
  b.Bind(name);
  b.OpPushBase();
  b.OpAddBase(-3);
  b.OpEnter(n);
  body();
  b.OpLeave(n);
  b.OpPopBase();
  b.OpReturn();
}

// A frame of one slot whose epilogue closes `leave` slots, more than the slot top holds.
void ClosePastTop(meiasm::Builder& b, uint32_t leave) {
  b.Globals(1);
  b.OpPushBase();
  b.OpAddBase(-1);
  b.OpEnter(1);
  b.OpLeave(leave);
  b.OpPopBase();
  b.OpReturn();
}

// A call to "r" (defined by `callee`) that returns onto a drop of two words, reached twice: the first
// time the stack holds an extra word, the second time it is one short.
void DropReachedTwice(meiasm::Builder& b, const std::function<void()>& callee) {
  b.Globals(1);
  b.OpDrop(2);
  b.OpPushWord(5);
  b.Bind("again");
  b.OpPushWord(1);
  b.OpCall(0, Label{"r"});
  b.OpDrop(2);
  b.OpAddConstInt(G(0), 1);
  b.OpJump(Label{"again"});
  callee();
}

const std::vector<Program>& Programs() {
  static const std::vector<Program> programs = {
      {"integer rules on globals and frame slots",
       [](meiasm::Builder& b) {
         b.Globals(8);
         b.OpAddBase(-2);
         b.OpEnter(4);
         b.OpSetInt(G(0), INT32_MIN);
         b.OpSetInt(L(0), -1);
         b.OpSetInt(G(1), 37);
         b.OpSetInt(L(1), 0);
         const auto all = [&](Operand d, Operand a, Operand c) {
           b.OpMul(d, a, c).OpDiv(d, a, c).OpMod(d, a, c).OpAdd(d, a, c).OpSub(d, a, c);
           b.OpShl(d, a, c).OpShr(d, a, c).OpAnd(d, a, c).OpXor(d, a, c).OpOr(d, a, c);
           b.OpLt(d, a, c).OpGt(d, a, c).OpLe(d, a, c).OpGe(d, a, c).OpEq(d, a, c).OpNe(d, a, c);
           b.OpMove(G(7), d);
         };
         all(G(2), G(0), L(0));  // INT32_MIN / -1 and % -1
         all(L(2), G(1), L(1));  // by zero
         all(L(3), L(0), G(1));
         b.OpMove(G(3), G(1));
         const auto assign = [&](Operand d, Operand s) {
           b.OpMulAssign(d, s).OpAddAssign(d, s).OpSubAssign(d, s).OpShlAssign(d, s).OpShrAssign(d, s);
           b.OpDivAssign(d, s).OpModAssign(d, s).OpAndAssign(d, s).OpXorAssign(d, s).OpOrAssign(d, s);
         };
         assign(G(3), L(0));
         assign(L(3), G(1));
         assign(G(4), L(1));
         b.OpSetInt(G(5), 1234567);
         b.OpMulConstInt(G(5), 3).OpAddConstInt(G(5), -7).OpSubConstInt(G(5), 99).OpShlConstInt(G(5), 35);
         b.OpShrConstInt(G(5), 2).OpDivConstInt(G(5), 0).OpModConstInt(L(3), -1).OpAndConstInt(G(5), 0xFF0);
         b.OpXorConstInt(G(5), 0x5A5A)
             .OpOrConstInt(L(2), 0x100)
             .OpDivConstInt(L(2), 7)
             .OpModConstInt(G(5), 10);
         b.OpHalt();
       }},
      {"counting loops on every comparison and jump",
       [](meiasm::Builder& b) {
         b.Globals(6);
         b.OpAddBase(-2);
         b.OpEnter(2);
         // Each loop twice: with a body between the step and the test, and with the step right
         // before the test (the three run as one form).
         const auto loop = [&](const std::string& name, auto compare, bool jump_if_nonzero) {
           for (const bool body : {true, false}) {
             const std::string label = name + (body ? "" : "-step");
             b.OpSetInt(L(0), 0);
             b.Bind(label);
             if (!body) b.OpAddAssign(G(5), L(0));
             b.OpAddConstInt(L(0), 1);
             if (body) b.OpAddAssign(G(5), L(0));
             (b.*compare)(L(1), L(0), G(0));
             if (jump_if_nonzero) {
               b.OpJumpIfNonZero(L(1), Label{label});
             } else {
               b.OpJumpIfZero(L(1), Label{label});
             }
           }
         };
         b.OpSetInt(G(0), 9);
         loop("lt", &meiasm::Builder::OpLt<Operand, Operand, Operand>, true);
         loop("le", &meiasm::Builder::OpLe<Operand, Operand, Operand>, true);
         loop("ne", &meiasm::Builder::OpNe<Operand, Operand, Operand>, true);
         loop("ge", &meiasm::Builder::OpGe<Operand, Operand, Operand>, false);
         loop("gt", &meiasm::Builder::OpGt<Operand, Operand, Operand>, false);
         loop("eq", &meiasm::Builder::OpEq<Operand, Operand, Operand>, false);
         // A comparison whose next jump tests another slot is no pair.
         b.OpSetInt(G(1), 0);
         b.Bind("other");
         b.OpAddConstInt(G(1), 1);
         b.OpLt(G(2), G(1), G(0));
         b.OpGe(G(3), G(1), G(0));
         b.OpJumpIfZero(G(3), Label{"other"});
         // A step and its test whose result slot holds a string at first, then one whose test
         // meets a float (the handler runs the comparison after the step).
         b.OpSetInt(G(4), 0);
         b.OpSetString(G(2), Text{"s"});
         b.Bind("step");
         b.OpAddConstInt(G(4), 2);
         b.OpLe(G(2), G(4), G(0));
         b.OpJumpIfNonZero(G(2), Label{"step"});
         // Tests that read the stepped slot as their second source, and one whose result goes to
         // the stepped slot itself.
         b.OpSetInt(G(4), 0);
         b.Bind("second-gt");
         b.OpAddConstInt(G(4), 2);
         b.OpGt(G(3), G(0), G(4));
         b.OpJumpIfNonZero(G(3), Label{"second-gt"});
         b.Bind("second-ne");
         b.OpAddConstInt(G(4), -1);
         b.OpNe(L(1), G(0), G(4));
         b.OpJumpIfZero(L(1), Label{"second-ne"});
         b.OpAddConstInt(G(4), 1);
         b.OpLt(G(4), G(4), G(0));
         b.OpJumpIfZero(G(4), Label{"second-ne"});
         b.OpSetFloat(G(0), 2.5f);
         b.Bind("float-step");
         b.OpAddConstInt(G(4), -1);
         b.OpGt(G(3), G(4), G(0));
         b.OpJumpIfNonZero(G(3), Label{"float-step"});
         b.OpSetInt(G(4), 7);
         b.Bind("float-second");
         b.OpAddConstInt(G(4), -3);
         b.OpLe(G(3), G(0), G(4));
         b.OpJumpIfNonZero(G(3), Label{"float-second"});
         b.OpHalt();
       }},
      {"recursive calls through frames and stack references",
       [](meiasm::Builder& b) {
         b.Globals(2);
         b.OpAddBase(-2);
         b.OpSetInt(G(0), 2);
         b.OpEnter(1);
         b.OpSetInt(L(0), 9);
         b.OpPushRef(L(0));
         b.OpPushRef(L(0));
         b.OpPushWord(1);
         b.OpCall(0, Label{"fib"});
         b.OpDrop(5);
         b.OpMove(G(1), L(0));
         // One and three arguments, and none.
         b.OpPushRef(G(1));
         b.OpPushWord(1);
         b.OpCall(0, Label{"one"});
         b.OpDrop(3);
         b.OpPushRef(G(0));
         b.OpPushRef(G(1));
         b.OpPushRef(L(0));
         b.OpPushWord(1);
         b.OpCall(0, Label{"three"});
         b.OpDrop(7);
         b.OpPushWord(1);
         b.OpCall(0, Label{"none"});
         b.OpDrop(1);
         b.OpHalt();
         Fib(b);
         b.Bind("one");
         b.OpAddConstInt(S(-3), 100);
         b.OpReturn();
         b.Bind("three");
         b.OpPushBase();
         b.OpAddBase(-3);
         b.OpEnter(1);
         b.OpAdd(L(0), S(-4), S(-6));
         b.OpMulAssign(S(-8), L(0));
         b.OpLeave(1);
         b.OpPopBase();
         b.OpReturn();
         b.Bind("none");
         b.OpSetLine(12);
         b.OpSetFile(0);
         b.OpReturn();
       }},
      {"slots that stop holding ints",
       [](meiasm::Builder& b) {
         b.Globals(6);
         b.OpAddBase(-2);
         b.OpEnter(2);
         b.OpSetInt(G(0), 0);
         b.OpSetInt(G(1), 5);
         b.Bind("loop");
         // The same addresses meet an int first, then a string and a float.
         b.OpAddConstInt(G(0), 1);
         b.OpAdd(G(2), G(0), G(1));
         b.OpAddAssign(G(3), G(2));
         b.OpMove(L(0), G(3));
         b.OpLt(L(1), G(0), G(1));
         b.OpJumpIfZero(L(1), Label{"done"});
         b.OpEq(G(4), G(0), G(1));
         b.OpJumpIfNonZero(G(0), Label{"mix"});
         b.Bind("mix");
         b.OpJumpIfZero(G(4), Label{"more"});
         b.Bind("more");
         b.OpSetString(G(3), Text{"12ab"});
         b.OpGe(G(5), G(0), G(1));
         b.OpJumpIfZero(G(5), Label{"float"});
         b.OpJump(Label{"loop"});
         b.Bind("float");
         b.OpSetFloat(G(2), 2.5f);
         b.OpSubConstInt(G(2), 1);
         b.OpMove(G(1), G(2));
         b.OpSetInt(G(1), 5);
         b.OpSetString(L(0), Text{"x"});
         b.OpLe(L(1), G(0), G(1));
         b.OpJumpIfNonZero(L(1), Label{"loop"});
         b.Bind("done");
         // Leave and Enter over a frame that holds a string.
         b.OpLeave(2);
         b.OpEnter(2);
         b.OpHalt();
       }},
      {"calls of every length into frames of every size",
       [](meiasm::Builder& b) {
         b.Globals(3);
         b.OpAddBase(-2);
         b.OpEnter(2);
         b.OpSetInt(L(0), 5);
         b.OpSetInt(L(1), 7);
         b.OpSetInt(G(2), 11);
         b.OpPushWord(2);
         b.OpCall(0, Label{"f0"});
         b.OpSetLine(3);  // a return onto something other than a drop
         b.OpDrop(1);
         b.OpPushRef(L(0));
         b.OpPushWord(2);
         b.OpCall(0, Label{"f1"});
         b.OpDrop(3);
         b.OpPushRef(L(0));
         b.OpPushRef(L(1));
         b.OpPushWord(2);
         b.OpCall(0, Label{"f2"});
         b.OpDrop(5);
         b.OpPushRef(L(0));
         b.OpPushRef(L(1));
         b.OpPushRef(G(2));
         b.OpPushWord(2);
         b.OpCall(0, Label{"f4"});
         b.OpDrop(7);
         b.OpPushWord(2);
         b.OpCall(0, Label{"f6"});
         b.OpDrop(1);
         b.OpHalt();
         Function(b, "f0", 0, [] {});
         Function(b, "f1", 1, [&] { b.OpAdd(L(0), S(-4), G(2)).OpMove(S(-4), L(0)); });
         Function(b, "f2", 2,
                  [&] { b.OpAdd(L(0), S(-4), S(-6)).OpMul(L(1), L(0), L(0)).OpMove(S(-6), L(1)); });
         Function(b, "f4", 4,
                  [&] { b.OpSub(L(3), S(-8), S(-4)).OpAdd(S(-6), L(3), G(2)).OpSetInt(L(2), 1); });
         Function(b, "f6", 6, [&] { b.OpSetInt(L(5), 9).OpMove(G(2), L(5)); });
       }},
      {"calls of each length into frames of one to five slots",
       [](meiasm::Builder& b) {
         b.Globals(2);
         b.OpAddBase(-2);
         b.OpEnter(3);
         b.OpSetInt(L(0), 5).OpSetInt(L(1), 7).OpSetInt(L(2), 11);
         for (int n = 0; n < 4; ++n) {
           for (int frame = 1; frame <= 5; ++frame) {
             for (int k = 0; k < n; ++k) b.OpPushRef(L(k));
             b.OpPushWord(3);
             b.OpCall(0, Label{"f" + std::to_string(frame)});
             b.OpDrop(2 * n + 1);
           }
         }
         b.OpHalt();
         for (int frame = 1; frame <= 5; ++frame) {
           Function(b, "f" + std::to_string(frame), frame, [&] {
             b.OpAddConstInt(G(1), frame);
             b.OpMove(L(frame - 1), G(1));
           });
         }
       }},
      {"calls whose callee first fetches an argument into its frame",
       [](meiasm::Builder& b) {
         b.Globals(4);
         b.OpAddBase(-2);
         b.OpEnter(3);
         // The last argument of three is a string: its fetch goes to the handler.
         b.OpSetInt(L(0), 5).OpSetInt(L(1), 7).OpSetString(L(2), Text{"9x"});
         const auto call = [&](int n, const std::string& callee) {
           for (int k = 0; k < n; ++k) b.OpPushRef(L(k));
           b.OpPushWord(3);
           b.OpCall(0, Label{callee});
           b.OpDrop(2 * n + 1);
         };
         for (int n = 1; n <= 3; ++n) {
           for (int frame = 1; frame <= 4; ++frame) call(n, "last" + std::to_string(frame));
         }
         call(3, "first");
         // Moves that are no such fetch: a word that is no pair's reference, a pair the call did
         // not push (here one that says address), a global or a slot past the frame as the
         // destination.
         call(3, "odd");
         b.OpPushWord(1).OpPushWord(7);
         call(1, "below");
         b.OpDrop(2);
         call(2, "global");
         call(2, "past");
         b.OpHalt();
         for (int frame = 1; frame <= 4; ++frame) {
           Function(b, "last" + std::to_string(frame), frame, [&] {
             b.OpMove(L(frame - 1), S(-4));
             b.OpMove(G(1), L(frame - 1));
           });
         }
         Function(b, "first", 2, [&] { b.OpMove(L(1), S(-8)).OpMove(G(2), L(1)); });
         Function(b, "odd", 2, [&] { b.OpMove(L(1), S(-5)).OpMove(G(3), L(1)); });
         Function(b, "below", 2, [&] { b.OpMove(L(1), S(-6)).OpMove(G(3), L(1)); });
         Function(b, "global", 2, [&] { b.OpMove(G(0), S(-4)); });
         Function(b, "past", 2, [&] { b.OpMove(L(2), S(-4)).OpMove(G(3), L(2)); });
       },
       nullptr},
      {"an argument fetched from a slot past the table",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpAddBase(-2);
         b.OpPushRef(L(1024));  // slot 1025: the first past the table of 1 + 1024
         b.OpPushWord(1);
         b.OpCall(0, Label{"f"});
         b.OpHalt();
         Function(b, "f", 1, [&] { b.OpMove(L(0), S(-4)); });
       },
       "errors 1"},
      {"an argument fetched into a slot past the table",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpAddBase(-2);
         b.OpPushRef(G(0));
         b.OpPushWord(1);
         b.OpCall(0, Label{"f"});
         b.OpHalt();
         Function(b, "f", 1, [&] { b.OpMove(L(kVmMaxSlots), S(-4)); });
       },
       "errors 1"},
      {"a call into a small frame past the end of the slot table",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpAddBase(-2);
         b.OpPushWord(1022);  // the caller's frame size: the callee's frame ends past 1024 slots
         b.OpCall(0, Label{"f"});
         b.OpDrop(1);
         b.OpHalt();
         Function(b, "f", 3, [&] { b.OpSetInt(L(2), 9).OpMove(G(0), L(2)); });
       }},
      {"frames that hold strings when they open and close",
       [](meiasm::Builder& b) {
         b.Globals(2);
         b.OpAddBase(-2);
         b.OpEnter(4);
         b.OpSetString(L(3), Text{"left"});
         b.OpSetTop(1);  // the string stays above the slot top
         b.OpPushWord(1);
         b.OpCall(0, Label{"opens"});  // its frame covers the string
         b.OpDrop(1);
         b.OpPushWord(1);
         b.OpCall(0, Label{"closes"});
         b.OpDrop(1);
         b.OpHalt();
         Function(b, "opens", 3, [&] { b.OpSetInt(L(0), 4); });
         Function(b, "closes", 2, [&] { b.OpSetString(L(1), Text{"x"}); });
       }},
      {"an address argument pins the stack through a call",
       [](meiasm::Builder& b) {
         b.Globals(3);
         b.OpAddBase(-2);
         b.OpEnter(1);
         b.OpPushRef(G(2).Member("x"));
         b.OpPushWord(1);
         b.OpCall(0, Label{"set4"});
         b.OpDrop(3);  // the pin goes with the address
         // Twice onto the same drop from a return with no frame: the second time the drop's form
         // is known. The pin goes with the address again: the pair pushed there next holds none.
         b.OpSetInt(G(0), 2);
         b.Bind("twice");
         b.OpPushRef(G(2).Member("x"));
         b.OpCall(0, Label{"bare"});
         b.OpDrop(2);
         b.OpSubConstInt(G(0), 1);
         b.OpJumpIfNonZero(G(0), Label{"twice"});
         b.OpPushRef(L(0));
         b.OpPushWord(1);
         b.OpCall(0, Label{"add3"});
         b.OpHalt();  // the same stack words, now a slot reference
         Function(b, "set4", 1, [&] { b.OpSetInt(L(0), 4); });
         Function(b, "add3", 1, [&] { b.OpSetInt(L(0), 3).OpAddAssign(S(-4), L(0)); });
         b.Bind("bare");
         b.OpReturn();
       }},
      {"a deep recursion that grows the stack, and a frame that grows the slot table",
       [](meiasm::Builder& b) {
         b.Globals(2);
         b.OpAddBase(-2);
         b.OpEnter(1);
         b.OpSetInt(L(0), 230);
         b.OpPushRef(L(0));
         b.OpPushRef(G(1));
         b.OpPushRef(G(1));
         b.OpPushWord(1);
         b.OpCall(0, Label{"deep"});
         b.OpDrop(7);
         b.OpPushWord(1);
         b.OpCall(0, Label{"wide"});
         b.OpDrop(1);
         b.OpHalt();
         Function(b, "deep", 1, [&] {
           b.OpMove(L(0), S(-8));
           b.OpAddConstInt(G(1), 1);
           b.OpJumpIfZero(L(0), Label{"deep_out"});
           b.OpSubConstInt(L(0), 1);
           b.OpPushRef(L(0));
           b.OpPushRef(G(1));
           b.OpPushRef(G(1));
           b.OpPushWord(1);
           b.OpCall(0, Label{"deep"});
           b.OpDrop(7);
           b.Bind("deep_out");
         });
         Function(b, "wide", 1500, [&] { b.OpSetInt(L(1499), 9); });
       }},
      {"stack references named by the instruction, and instructions run with the next one",
       [](meiasm::Builder& b) {
         b.Globals(8);
         b.OpSetInt(G(0), INT32_MIN);
         b.OpSetInt(G(1), -1);
         // The body reads and writes through the pair below its return address; each call reaches
         // the same addresses with another pair.
         const auto call = [&](const std::function<void()>& push, uint32_t words = 2) {
           push();
           b.OpCall(0, Label{"body"});
           b.OpDrop(words);
         };
         call([&] { b.OpPushRef(G(2)); });  // a slot holding an int
         b.OpSetInt(G(1), 0);
         call([&] { b.OpPushRef(G(2)); });  // by zero
         b.OpSetInt(G(1), 3);
         b.OpSetString(G(2), Text{"12ab"});
         call([&] { b.OpPushRef(G(2)); });  // a slot holding a string
         b.OpSetFloat(G(1), 2.5f);
         call([&] { b.OpPushRef(G(2)); });  // a source that is no int
         b.OpSetInt(G(1), 3);
         call([&] { b.OpPushRef(G(5).Member("x")); });  // the address of a member
         b.OpMove(G(6), G(5).Member("x"));
         call([&] { b.OpPushWord(1).OpPushWord(2); });            // tagged as an address that is none
         call([&] { b.OpPushWord(0).OpPushWord(kVmMaxSlots); });  // a slot past the capacity
         call([&] { b.OpPushWord(7); }, 1);                       // one word: the pair starts below the stack
         call([] {}, 0);                                          // none
         // d = a + b or d = a - b, then d += w or d -= w.
         b.OpAdd(G(3), G(0), G(1)).OpSubConstInt(G(3), 5);
         b.OpSub(G(3), G(0), G(1)).OpAddConstInt(G(3), INT32_MAX);
         b.OpAdd(G(3), G(1), G(1)).OpAddConstInt(G(3), -3);
         b.OpSub(G(3), G(0), G(1)).OpSubConstInt(G(3), 1);
         b.OpSub(G(3), G(0), G(1)).OpAddConstInt(G(4), 1);  // another operand: no pair
         b.OpSetString(G(6), Text{"x"});
         b.OpAdd(G(6), G(1), G(1)).OpAddConstInt(G(6), 1);  // a string replaced
         b.OpSetFloat(G(7), 1.5f);
         b.OpSub(G(6), G(7), G(1)).OpSubConstInt(G(6), 1);  // a float source
         b.OpMove(G(4), G(1));
         b.OpJump(Label{"on"});
         b.OpHalt();
         b.Bind("on");
         b.OpMove(G(4), G(7));  // not an int
         b.OpJump(Label{"end"});
         b.OpHalt();
         b.Bind("end");
         b.OpMove(G(4), G(0));
         b.OpJump(0xFFFFFFF0u);  // outside the code
         b.OpHalt();

         b.Bind("body");
         b.OpMove(G(3), S(-2));
         b.OpMul(S(-2), G(0), G(1)).OpDiv(S(-2), G(0), G(1)).OpMod(S(-2), G(0), G(1));
         b.OpAdd(S(-2), G(0), G(1)).OpSub(S(-2), G(0), G(1)).OpShl(S(-2), G(1), G(1));
         b.OpShr(S(-2), G(0), G(1)).OpAnd(S(-2), G(0), G(1)).OpXor(S(-2), G(0), G(1));
         b.OpOr(S(-2), G(0), G(1));
         b.OpMove(G(4), S(-2));
         b.OpMove(G(4), S(-3));  // with no pair pushed, it would begin at the stack's first word
         b.OpMove(S(0), G(1));   // at the top: never a pair
         b.OpMove(S(-2), G(1));
         b.OpJump(Label{"ret"});
         b.OpHalt();
         b.Bind("ret");
         b.OpMove(S(-2), G(7));  // a source that is no int, then a jump
         b.OpJump(Label{"ret2"});
         b.OpHalt();
         b.Bind("ret2");
         b.OpMove(S(-3), G(1));  // with no pair pushed, then a jump
         b.OpJump(Label{"ret3"});
         b.OpHalt();
         b.Bind("ret3");
         b.OpReturn();
       },
       nullptr},
      {"a frame slot outside the table",
       [](meiasm::Builder& b) {
         b.Globals(2);
         b.OpSetInt(G(0), 3);
         b.OpAddConstInt(L(kVmMaxSlots), 1);
         b.OpAdd(G(1), G(0), L(kVmMaxSlots));
         b.OpHalt();
       },
       "errors 1 1"},
      {"a stack reference outside the stack",
       [](meiasm::Builder& b) {
         b.Globals(2);
         b.OpSetInt(G(0), 3);
         b.OpMove(G(1), S(-100));
         b.OpAdd(G(1), S(1), G(0));
         b.OpHalt();
       },
       "errors 1 1"},
      {"a return to an address outside the code",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpPushWord(0xFFFFFFF0u);
         b.OpReturn();
         b.OpHalt();
       },
       "errors 1"},
      {"a frame base from below the stack",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpAddBase(-3);
         b.OpHalt();
       },
       "errors 1"},
      {"a drop of more words than the stack holds",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpDrop(3);
         b.OpHalt();
       },
       "errors 1"},
      {"a frame closed past the slot top",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpLeave(50);
         b.OpHalt();
       },
       "errors 1"},
      {"a frame base popped from an empty stack",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpDrop(2);
         b.OpPopBase();
         b.OpHalt();
       },
       "errors 1"},
      {"a prologue whose frame base comes from below the stack",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         b.OpPushBase();
         b.OpAddBase(-50);
         b.OpEnter(1);
         b.OpHalt();
       },
       "errors 1"},
      {"a call into a prologue whose frame base comes from below the stack",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpSetInt(G(0), 1);
         // A prologue whose frame base adds the base it has just pushed (0 here) runs; then one
         // that reaches below the stack.
         b.OpPushWord(1);
         b.OpCall(0, Label{"own"});
         b.OpDrop(1);
         b.OpPushWord(1);
         b.OpCall(0, Label{"below"});
         b.OpHalt();
         b.Bind("own");
         b.OpPushBase();
         b.OpAddBase(-1);
         b.OpEnter(1);
         b.OpLeave(1);
         b.OpPopBase();
         b.OpReturn();
         b.Bind("below");
         b.OpPushBase();
         b.OpAddBase(-50);
         b.OpEnter(1);
         b.OpHalt();
       },
       "errors 1"},
      {"an epilogue that closes past the slot top", [](meiasm::Builder& b) { ClosePastTop(b, 9); },
       "errors 1"},
      {"an epilogue of two slots that closes past the slot top",
       [](meiasm::Builder& b) { ClosePastTop(b, 2); }, "errors 1"},
      {"an epilogue that returns outside the code",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpPushWord(0xFFFFFFF0u);
         b.OpPushBase();
         b.OpAddBase(-1);
         b.OpEnter(1);
         b.OpLeave(1);
         b.OpPopBase();
         b.OpReturn();
         b.OpHalt();
       },
       "errors 1"},
      {"a return onto a drop of more words than the stack holds",
       [](meiasm::Builder& b) {
         b.Globals(1);
         b.OpPushWord(1);
         b.OpCall(0, Label{"r"});
         b.OpDrop(40);
         b.OpHalt();
         Function(b, "r", 1, [] {});
       },
       "errors 1"},
      // The same drop reached twice from each kind of return.
      {"an epilogue onto a drop that holds its words once",
       [](meiasm::Builder& b) { DropReachedTwice(b, [&b] { Function(b, "r", 1, [] {}); }); }, "errors 1"},
      {"a return onto a drop that holds its words once",
       [](meiasm::Builder& b) {
         DropReachedTwice(b, [&b] {
           b.Bind("r");
           b.OpReturn();
         });
       },
       "errors 1"},
  };
  return programs;
}

// Everything a run leaves that a script or a host can see. Addresses pushed on the stack differ
// between contexts and show as "addr", and words whose pin keeps a record alive are marked "p"; below its
// last 16 entries the stack and the slots show as a count and a hash, so deep runs stay cheap to compare.
std::string State(ScriptContext* ctx, bool end) {
  std::string s = "pc " + std::to_string(ctx->pc()) + " fb " + std::to_string(ctx->frame_base()) + " top " +
                  std::to_string(ctx->slot_top()) + (end ? " end" : "");
  const auto list = [&s](const char* what, uint32_t n, const auto& key, const auto& show) {
    const uint32_t shown = n > 16 ? n - 16 : 0;
    uint64_t hash = 14695981039346656037u;
    for (uint32_t i = 0; i < shown; ++i) hash = (hash ^ key(i)) * 1099511628211u;
    s += std::string(" ") + what + " " + std::to_string(n) + " #" + std::to_string(hash);
    for (uint32_t i = shown; i < n; ++i) s += " " + show(i);
  };
  const auto word = [ctx](uint32_t i) {
    const VmWord w = ctx->StackWord(i);
    return w > UINT32_MAX ? VmWord{1} << 63 : w;
  };
  list("stack", ctx->stack_top(), word, [&word, ctx](uint32_t i) {
    return (word(i) > UINT32_MAX ? std::string("addr") : std::to_string(word(i))) +
           (ctx->PinnedRecord(i) ? "p" : "");
  });
  const auto value = [ctx](uint32_t i) -> const ScriptValue& { return *ctx->SlotOrNull(i); };
  const uint32_t slots = std::min<uint32_t>(std::max(ctx->slot_top(), ctx->globals()), ctx->slot_capacity());
  list(
      "slots", slots,
      [&value](uint32_t i) {
        const ScriptValue& v = value(i);
        return v.type() == kScriptInt ? static_cast<uint64_t>(static_cast<uint32_t>(v.int_value()))
                                      : std::hash<std::string>()(Show(v));
      },
      [&value](uint32_t i) { return Show(value(i)); });
  return s;
}

class MachineTest : public VmFixture {
 protected:
  static std::string Errors() {
    std::string s = "errors";
    for (uint32_t e : errors) s += " " + std::to_string(e);
    return s;
  }

  // Runs the program from address 0 in chunks of `chunk` instructions; gives the state after each.
  std::vector<std::string> Trace(const Program& p, uint32_t chunk) {
    meiasm::Builder b;
    p.build(b);
    Load(b);
    errors.clear();
    std::vector<std::string> states;
    if (!ctx || !ctx->Start(0)) return states;
    uint32_t flags = 0;
    for (int turn = 0; turn < 100000; ++turn) {
      bool end = false;
      const uint32_t ran = ctx->StepMany(chunk, &flags, kVmRunEnd, &end);
      states.push_back("ran " + std::to_string(ran) + " " + State(ctx, end) + " " + Errors());
      if (end) return states;
    }
    ADD_FAILURE() << p.name << ": did not end";
    return states;
  }

  // The same with every instruction given to its handler, as the loop's slow path gives it.
  std::vector<std::string> HandlerTrace(const Program& p, uint32_t chunk) {
    meiasm::Builder b;
    p.build(b);
    Load(b);
    errors.clear();
    std::vector<std::string> states;
    if (!ctx || !ctx->Start(0)) return states;
    const std::vector<uint32_t>& code = ctx->image().code;
    for (int turn = 0; turn < 100000; ++turn) {
      bool end = false;
      uint32_t ran = 0;
      while (ran < chunk && !end) {
        const uint32_t pc = ctx->pc();
        // The programs never end in the middle of an instruction.
        if (pc + 1 >= code.size() || code[pc] >= kVmInstructionCount) {
          ADD_FAILURE() << p.name << ": no instruction at " << pc;
          return states;
        }
        ctx->JumpTo(pc + 1);
        end = VmDispatchTable[code[pc]](ctx) || ctx->faulted();
        ++ran;
      }
      states.push_back("ran " + std::to_string(ran) + " " + State(ctx, end) + " " + Errors());
      if (end) return states;
    }
    ADD_FAILURE() << p.name << ": did not end";
    return states;
  }
};

TEST_F(MachineTest, FormsLeaveWhatTheHandlersLeave) {
  for (const Program& p : Programs()) {
    for (uint32_t chunk : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 11u, 100u}) {
      const std::vector<std::string> expected = HandlerTrace(p, chunk);
      const std::vector<std::string> got = Trace(p, chunk);
      ASSERT_FALSE(expected.empty()) << p.name;
      ASSERT_EQ(got.size(), expected.size()) << p.name << ", chunks of " << chunk;
      for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], expected[i]) << p.name << ", chunks of " << chunk << ", chunk " << i;
      }
    }
  }
}

// The end state of the table's programs, so that both builds agreeing is not both being wrong.
TEST_F(MachineTest, ProgramsComputeTheirResults) {
  for (const Program& p : Programs()) {
    const std::vector<std::string> trace = Trace(p, 100);
    ASSERT_FALSE(trace.empty()) << p.name;
    if (p.errors) {
      EXPECT_EQ(trace.back().substr(trace.back().find("errors")), p.errors) << p.name;
    }
    if (std::string(p.name) == "recursive calls through frames and stack references") {
      EXPECT_EQ(Show(Slot(1)), "i:134");  // fib(9) = 34, then + 100
      EXPECT_EQ(Show(Slot(0)), "i:336");  // 2 * (34 + 134)
    } else if (std::string(p.name) == "calls of every length into frames of every size") {
      // L0 = 5 + 11 = 16, then (7 + 16)^2 = 529; L1 = 529 - 11 + 11; G2 = 9.
      EXPECT_EQ(Show(Slot(3)) + " " + Show(Slot(4)) + " " + Show(Slot(2)), "i:529 i:529 i:9");
    } else if (std::string(p.name) == "calls of each length into frames of one to five slots") {
      EXPECT_EQ(Show(Slot(1)), "i:60");  // 4 * (1 + 2 + 3 + 4 + 5)
    } else if (std::string(p.name) == "calls whose callee first fetches an argument into its frame") {
      // The word that is no reference and the pair that says address raise errors.
      EXPECT_EQ(Show(Slot(0)) + " " + Show(Slot(2)), "i:7 i:5");
      EXPECT_EQ(trace.back().substr(trace.back().find("errors")), "errors 1 1");
    } else if (std::string(p.name) == "a call into a small frame past the end of the slot table") {
      EXPECT_EQ(Show(Slot(0)), "i:9");
      EXPECT_GT(ctx->slot_capacity(), 1024u);
    } else if (std::string(p.name) == "an address argument pins the stack through a call") {
      EXPECT_EQ(Show(Slot(3)), "i:3");
      EXPECT_EQ(ctx->stack_top(), 5u);
    } else if (std::string(p.name) ==
               "a deep recursion that grows the stack, and a frame that grows the slot table") {
      EXPECT_EQ(Show(Slot(1)), "i:231");
      EXPECT_GE(ctx->slot_capacity(), 1500u);
    }
  }
}

// A jump into the middle of an instruction runs the words found there as an instruction, beside
// the instruction that holds them, in any order the runs reach the two addresses.
TEST_F(MachineTest, JumpIntoTheMiddleOfAnInstruction) {
  meiasm::Builder b;
  b.Globals(8);
  b.OpAddConstInt(G(0), static_cast<int64_t>(VmOp::OpAddConstInt));  // its last word starts G6 += 3
  b.Word(0);                                                         // alone: OpPushBase; inside: mode 0
  b.Word(static_cast<uint32_t>(VmOp::OpHalt));                       // alone: OpHalt; inside: slot 6
  b.Word(3);                                                         // inside: the constant
  b.OpHalt();
  Load(b);
  const uint32_t inner = 3;
  for (uint32_t entry : {0u, inner, 0u, inner}) {
    ASSERT_TRUE(ctx->Start(entry));
    uint32_t flags = 0;
    bool end = false;
    ctx->StepMany(100, &flags, kVmRunEnd, &end);
    EXPECT_TRUE(end);
    if (entry == 0) {
      EXPECT_EQ(Show(Slot(0)), "i:50");
      EXPECT_EQ(ctx->stack_top(), 3u);  // [G, R] and the base
      EXPECT_EQ(ctx->pc(), 6u);
    } else {
      EXPECT_EQ(Show(Slot(6)), "i:3");
      EXPECT_EQ(Show(Slot(0)), "i:0");
      EXPECT_EQ(ctx->pc(), 8u);
    }
    ctx->Stop();
  }
  EXPECT_TRUE(errors.empty());
}

// A copy of an image record whose code is then changed runs its own code, not forms decoded from
// the original's.
TEST_F(MachineTest, ChangedCopyOfAnImageRunsItsOwnCode) {
  meiasm::Builder b;
  b.Globals(1);
  b.OpAddConstInt(G(0), 5);
  b.OpHalt();
  Load(b);
  ASSERT_TRUE(ctx->Start(0));
  RunStarted();
  EXPECT_EQ(Show(Slot(0)), "i:5");

  DRef<ScriptImageInfo> copy;
  copy.Alloc(1);
  *copy.Get() = *info.Get();
  copy->code[0] = static_cast<uint32_t>(VmOp::OpSubConstInt);
  ScriptContext* other = ScriptContext::Create(copy, 16, &CallBuiltin, &RecordError);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(other->Start(0));
  while (!other->Step()) {
  }
  EXPECT_EQ(Show(*other->SlotOrNull(0)), "i:-5");
  ScriptContext::Destroy(other);
}

}  // namespace
