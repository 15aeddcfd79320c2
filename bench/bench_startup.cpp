// Start-up of the real program: from the moment the process is spawned until
// the main window is shown and the event loop first has nothing to do, and
// the peak resident memory by then. The program is run on the offscreen
// platform with TELLUMO_QUIT_WHEN_IDLE set, which makes it print "idle" at
// that moment and end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Run {
    double ms = 0;
    double rssMb = 0;
    bool ok = false;
};

Run runOnce() {
    Run run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);

    std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen", "TELLUMO_QUIT_WHEN_IDLE=1"};
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
            env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char program[] = TELLUMO_PATH;
    char* argv[] = {program, nullptr};

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return run;
    }
    std::string seen;
    char buffer[256];
    ssize_t n;
    while (seen.find("idle") == std::string::npos && (n = read(out[0], buffer, sizeof buffer)) > 0)
        seen.append(buffer, static_cast<size_t>(n));
    const auto idle = std::chrono::steady_clock::now();
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.ok =
        seen.find("idle") != std::string::npos && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.ms = std::chrono::duration<double, std::milli>(idle - start).count();
    run.rssMb = usage.ru_maxrss / 1024.0;
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main() {
    runOnce(); // fills the file cache
    std::vector<double> ms, rss;
    for (int i = 0; i < 7; ++i) {
        const Run run = runOnce();
        if (!run.ok) {
            std::fprintf(stderr, "bench_startup: %s did not reach an idle main window\n",
                         TELLUMO_PATH);
            return 1;
        }
        ms.push_back(run.ms);
        rss.push_back(run.rssMb);
    }
    std::printf("startup-ms: %.1f\n", median(ms));
    std::printf("startup-rss-mb: %.1f\n", *std::max_element(rss.begin(), rss.end()));
    return 0;
}
