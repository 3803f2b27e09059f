// Runs one of the tools as a child process with its standard input from a
// string, and collects its standard output, standard error and exit status.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

struct ProgramResult {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline std::string read_file(const std::string& path) {
    std::string text;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

// Output goes to files in `dir` (no pipes to drain while the child runs).
inline ProgramResult run_program(const std::vector<std::string>& argv, const std::string& input,
                                 const std::string& dir) {
    std::string in_path = dir + "/stdin", out_path = dir + "/stdout", err_path = dir + "/stderr";
    int in = open(in_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in >= 0) {
        ssize_t ignored = write(in, input.data(), input.size());
        (void)ignored;
        close(in);
    }
    ProgramResult result;
    pid_t pid = fork();
    if (pid == 0) {
        int i = open(in_path.c_str(), O_RDONLY);
        int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(i, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid < 0) return result;
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}
