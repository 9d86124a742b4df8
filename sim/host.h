// Every outside action of the player goes through here: programs run,
// files read and written, pauses. Tests put a recording stand-in in its place.
#ifndef SIM_HOST_H
#define SIM_HOST_H

#include <map>
#include <string>
#include <vector>

namespace sim {

class Host {
public:
    // What becomes of a program's output.
    enum class Output {
        Inherit,        // both streams go where ours go
        KeepErrors,     // standard output dropped, errors shown
        Drop,           // both dropped
        Capture,        // both into *out
    };

    virtual ~Host() = default;
    // Runs ARGV (no shell) with ENV ("NAME=value") added to ours. The exit
    // status, 128 + the signal that ended it, or 127 when it cannot start.
    virtual int run(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                    Output output, std::string *out = nullptr) = 0;
    // A whole file; false when it cannot be read.
    virtual bool read(const std::string &path, std::string *text) = 0;
    // Replaces a file at once (written beside it, then renamed), its folder
    // made when missing.
    virtual bool write(const std::string &path, const std::string &text) = 0;
    // Empties a folder and fills it with FILES (relative path -> content).
    virtual bool fill(const std::string &dir, const std::map<std::string, std::string> &files) = 0;
    virtual void sleep_ms(int ms) = 0;
};

// The real one.
Host &system_host();

}  // namespace sim

#endif
