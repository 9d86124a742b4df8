// Programs the tests run: started with their output in files, waited for
// within a bound; and the file and polling helpers that go with them.
#ifndef TESTS_COMMON_PROC_H
#define TESTS_COMMON_PROC_H

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace proc {

inline std::string slurp(const std::string &path)
{
    std::ostringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    return ss.str();
}

// The lines of a file, without their line ends.
inline std::vector<std::string> lines(const std::string &path)
{
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

// Asks `done` every 20 ms for up to `ms` milliseconds.
inline bool wait_for(const std::function<bool()> &done, int ms = 10000)
{
    for (int waited = 0; waited < ms; waited += 20) {
        if (done())
            return true;
        usleep(20 * 1000);
    }
    return done();
}

// Starts argv[0] with its standard output and error in the given files
// (inherited when a name is empty).
inline pid_t spawn(const std::vector<std::string> &argv, const std::string &out = "", const std::string &err = "")
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    for (const auto &[file, to] : {std::pair{out, 1}, std::pair{err, 2}})
        if (!file.empty())
            dup2(open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), to);
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// The exit status of a process, -1 when a signal ended it, -2 when it had
// not ended within `ms` milliseconds (it is ended then).
inline int wait_exit(pid_t pid, int ms = 20000)
{
    int st = 0;
    if (!wait_for([&] { return waitpid(pid, &st, WNOHANG) == pid; }, ms)) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
        return -2;
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Runs a shell command line; its exit status, its output and errors in *out
// when given.
inline int run(const std::string &cmdline, std::string *out = nullptr)
{
    FILE *p = popen((cmdline + " 2>&1").c_str(), "r");
    if (p == nullptr)
        return -1;
    char buf[4096];
    std::string text;
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        text.append(buf, n);
    const int st = pclose(p);
    if (out)
        *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// A fresh private directory, removed with its files.
struct TempDir {
    std::string path = [] {
        std::string t = std::filesystem::temp_directory_path() / "rrmtest.XXXXXX";
        return mkdtemp(t.data()) ? t : "";
    }();
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string &name) const { return path + "/" + name; }
};

}  // namespace proc

#endif
