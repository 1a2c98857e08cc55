// Time from starting the executable to its main window being shown (offscreen), the
// budget is 0.5 s. Each iteration starts a fresh process with its own runtime directory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// Starts the program and returns once it has printed its "running" trace line.
bool StartAndWaitShown(const std::string& runtime) {
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "QUILLON_TRACE=1",
                                    "XDG_RUNTIME_DIR=" + runtime, "HOME=" + runtime};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    std::string exe = QUILLON_EXECUTABLE;
    char* argv[] = {exe.data(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    bool shown = false;
    if (rc == 0) {
        std::string seen;
        char chunk[512];
        ssize_t n;
        while (!shown && (n = ::read(fds[0], chunk, sizeof chunk)) > 0) {
            seen.append(chunk, std::size_t(n));
            shown = seen.find("quillon: running") != std::string::npos;
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    ::close(fds[0]);
    return shown;
}

void BM_StartToWindowShown(benchmark::State& state) {
    char tmpl[] = "/tmp/quillon-bench-XXXXXX";
    const std::string runtime = ::mkdtemp(tmpl);
    for (auto _ : state)
        if (!StartAndWaitShown(runtime)) state.SkipWithError("the program did not start");
    std::filesystem::remove_all(runtime);
}
BENCHMARK(BM_StartToWindowShown)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
