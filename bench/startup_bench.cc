// Headless start-to-exit of the engine program on a one-instruction image, beside the headless
// runner on the same image (goal: under 50 ms for the engine).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

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

void BM_OrvaneStartToExit(benchmark::State& state) {
  Run(state, "orvane");
}
BENCHMARK(BM_OrvaneStartToExit)->UseRealTime()->Unit(benchmark::kMillisecond);

// Anchor: the headless runner, which starts no units.
void BM_MeiRunStartToExit(benchmark::State& state) {
  Run(state, "mei-run");
}
BENCHMARK(BM_MeiRunStartToExit)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
