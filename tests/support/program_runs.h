// Running a program as a user runs it, for the end-to-end tests of edgedom-cli: in a child
// process, its standard output and error into files, within limits on memory and file size, as
// user nobody when permissions matter; started and waited for apart when the test stops it.
#pragma once

#include "scratch_files.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

constexpr uid_t Nobody = 65534;

struct Limits {
    rlim_t addressSpace = RLIM_INFINITY;
    rlim_t fileSize = RLIM_INFINITY;
    bool asNobody = false; // root ignores permissions: run as nobody to see them
};

struct CliRun {
    int status = -1; // the exit status; -1 when the program did not exit normally
    std::string out, err;
    int signal = 0;  // the signal that ended it, if one did
};

using Words = std::vector<std::string>;

inline Words Concat(Words a, const Words &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Starts words[0] (a full path) with the arguments after it, within the limits, its standard
// output and error going to the files out and err.
inline pid_t StartProgram(Words words, const Limits &limits, const fs::path &out, const fs::path &err)
{
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const bool becomeNobody = limits.asNobody && getuid() == 0;
    const pid_t pid = fork();
    if (pid == 0) { // only async-signal-safe calls from here to exec
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        signal(SIGXFSZ, SIG_IGN); // a write past the file size limit fails instead
        const rlimit fileSize{limits.fileSize, limits.fileSize}, space{limits.addressSpace, limits.addressSpace};
        setrlimit(RLIMIT_FSIZE, &fileSize);
        setrlimit(RLIMIT_AS, &space);
        if (becomeNobody && (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0))
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Waits for the program StartProgram started to end.
inline CliRun FinishProgram(pid_t pid, const fs::path &out, const fs::path &err)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err),
            WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

inline CliRun RunProgram(const Words &words, const Limits &limits, const fs::path &out, const fs::path &err)
{
    return FinishProgram(StartProgram(words, limits, out, err), out, err);
}
