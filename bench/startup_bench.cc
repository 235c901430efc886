// Headless start-to-exit of the engine program on a one-instruction image, beside the headless
// runner on the same image, the engine's start to its first presented frame (goal: under 50 ms),
// and the runner beside the Lua 5.4 interpreter running an empty chunk, process start included
// (goal: at most 1.5 times Lua's).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tools/meiasm/meiasm.h"

extern char** environ;

namespace {

const std::string& ImagePath() {
  static const std::string path = [] {
    char dir[] = "/tmp/orvane_startup_XXXXXX";
    std::string p = std::string(mkdtemp(dir)) + "/halt.mei";
    auto image = meiasm::Assemble(".method main\n OpHalt\n");
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return p;
  }();
  return path;
}

// An image that renders the sprite screen once (the first presented frame) and exits.
const std::string& FrameImagePath() {
  static const std::string path = [] {
    std::string p = ImagePath().substr(0, ImagePath().rfind('/')) + "/frame.mei";
    auto image = meiasm::Assemble(
        ".globals 2\n.method main\n.export 0\n"
        " OpSetInt g1, 1\n .builtin 1, g1\n"       // SetSpriteLevel 1
        " .builtin 46\n .builtin 64\n OpHalt\n");  // RenderSpriteScreen, Exit
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return p;
  }();
  return path;
}

void Run(benchmark::State& state, const char* program) {
  std::string exe = std::string(ORVANE_BINARY_DIR) + "/bin/" + program;
  std::string image = ImagePath();
  std::vector<std::string> env_text = {"ORVANE_BACKEND=headless"};
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {exe.data(), image.data(), nullptr};
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawn(&pid, exe.c_str(), &quiet, nullptr, argv, envp.data()) != 0) {
      state.SkipWithError("cannot start the program");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the program failed");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&quiet);
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Seconds from spawning `argv` (headless, with `extra` added to the environment) to its successful
// exit, or a negative number on failure.
double SpawnOnce(std::vector<std::string> args, const std::string& extra = "") {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  std::string headless = "ORVANE_BACKEND=headless";
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(headless.data());
  std::string added = extra;
  if (!added.empty()) envp.push_back(added.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  const double t0 = Now();
  pid_t pid;
  int status = 0;
  const bool started = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), envp.data()) == 0;
  if (started) waitpid(pid, &status, 0);
  const double t1 = Now();
  posix_spawn_file_actions_destroy(&quiet);
  return started && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? t1 - t0 : -1;
}

constexpr const char* kLua = "/usr/bin/lua5.4";

// The runner and `lua5.4 -e ''` in turn; ours/lua is the ratio of their mean times.
void BM_MeiRunVsLua(benchmark::State& state) {
  const std::string runner = std::string(ORVANE_BINARY_DIR) + "/bin/mei-run";
  double ours = 0, lua = 0;
  for (auto _ : state) {
    const double a = SpawnOnce({runner, ImagePath()});
    const double b = SpawnOnce({kLua, "-e", ""});
    if (a < 0 || b < 0) {
      state.SkipWithError(a < 0 ? "mei-run failed" : "lua5.4 failed");
      break;
    }
    ours += a;
    lua += b;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_ms"] = ours / n * 1e3;
  state.counters["lua_ms"] = lua / n * 1e3;
  state.counters["ours/lua"] = lua > 0 ? ours / lua : 0;
}
BENCHMARK(BM_MeiRunVsLua)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_OrvaneStartToExit(benchmark::State& state) {
  Run(state, "orvane");
}
BENCHMARK(BM_OrvaneStartToExit)->UseRealTime()->Unit(benchmark::kMillisecond);

// Start to the first presented frame, headless: the engine starts its units, renders the sprite
// screen once and exits. The picture it presented is written at exit (ORVANE_CAPTURE), which shows
// that a frame reached the host; the time runs to the exit, so it bounds the time to the frame.
void BM_OrvaneStartToFirstFrame(benchmark::State& state) {
  const std::string exe = std::string(ORVANE_BINARY_DIR) + "/bin/orvane";
  const std::string shot = FrameImagePath() + ".ppm";
  double total = 0;
  for (auto _ : state) {
    std::remove(shot.c_str());
    const double t = SpawnOnce({exe, FrameImagePath()}, "ORVANE_CAPTURE=" + shot);
    std::ifstream in(shot, std::ios::binary);
    std::string magic;
    in >> magic;
    if (t < 0 || magic != "P6") {
      state.SkipWithError(t < 0 ? "orvane failed" : "no frame was presented");
      break;
    }
    total += t;
  }
  state.counters["first_frame_ms"] = total / static_cast<double>(state.iterations()) * 1e3;
}
BENCHMARK(BM_OrvaneStartToFirstFrame)->UseRealTime()->Unit(benchmark::kMillisecond);

// Anchor: the headless runner, which starts no units.
void BM_MeiRunStartToExit(benchmark::State& state) {
  Run(state, "mei-run");
}
BENCHMARK(BM_MeiRunStartToExit)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
