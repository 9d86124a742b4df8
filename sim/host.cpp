#include "host.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace sim {

namespace {

class SystemHost : public Host {
public:
    int run(const std::vector<std::string> &argv, const std::vector<std::string> &env, Output output,
            std::string *out) override
    {
        if (argv.empty())
            return 127;
        fflush(stdout);
        fflush(stderr);
        int pipe_fd[2] = {-1, -1};
        if (output == Output::Capture && pipe(pipe_fd) != 0)
            return 127;
        const pid_t pid = fork();
        if (pid < 0) {
            if (pipe_fd[0] >= 0) {
                close(pipe_fd[0]);
                close(pipe_fd[1]);
            }
            return 127;
        }
        if (pid == 0) {
            const int null_fd = open("/dev/null", O_RDWR);
            if (output == Output::Capture) {
                dup2(pipe_fd[1], 1);
                dup2(pipe_fd[1], 2);
                close(pipe_fd[0]);
                close(pipe_fd[1]);
            } else if (output != Output::Inherit && null_fd >= 0) {
                dup2(null_fd, 1);
                if (output == Output::Drop)
                    dup2(null_fd, 2);
            }
            if (null_fd >= 0) {
                dup2(null_fd, 0);
                if (null_fd > 2)
                    close(null_fd);
            }
            for (const std::string &kv : env) {
                const size_t eq = kv.find('=');
                if (eq != std::string::npos)
                    setenv(kv.substr(0, eq).c_str(), kv.c_str() + eq + 1, 1);
            }
            std::vector<char *> args;
            for (const std::string &a : argv)
                args.push_back(const_cast<char *>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        if (output == Output::Capture) {
            close(pipe_fd[1]);
            std::string text;
            char buf[4096];
            for (ssize_t n; (n = read_some(pipe_fd[0], buf, sizeof buf)) > 0;)
                text.append(buf, static_cast<size_t>(n));
            close(pipe_fd[0]);
            if (out)
                *out = text;
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0)
            if (errno != EINTR)
                return 127;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    bool read(const std::string &path, std::string *text) override
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return false;
        std::ostringstream ss;
        ss << in.rdbuf();
        *text = ss.str();
        return true;
    }

    bool write(const std::string &path, const std::string &text) override
    {
        const std::string tmp = path + ".new";
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        {
            std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
            if (!(out << text) || !out.flush())
                return false;
        }
        return rename(tmp.c_str(), path.c_str()) == 0;
    }

    bool fill(const std::string &dir, const std::map<std::string, std::string> &files) override
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        for (const auto &entry : fs::directory_iterator(dir, ec))
            fs::remove_all(entry.path(), ec);
        for (const auto &[rel, text] : files) {
            const fs::path p = fs::path(dir) / rel;
            fs::create_directories(p.parent_path(), ec);
            std::ofstream out(p, std::ios::binary | std::ios::trunc);
            if (!(out << text) || !out.flush())
                return false;
        }
        return true;
    }

    void sleep_ms(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

private:
    static ssize_t read_some(int fd, char *buf, size_t len)
    {
        ssize_t n;
        do
            n = ::read(fd, buf, len);
        while (n < 0 && errno == EINTR);
        return n;
    }
};

}  // namespace

Host &system_host()
{
    static SystemHost host;
    return host;
}

}  // namespace sim
