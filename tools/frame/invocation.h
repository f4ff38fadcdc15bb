// One parsed command line: the subcommand, its arguments and its options.
#ifndef LKPCTL_INVOCATION_H
#define LKPCTL_INVOCATION_H

#include <map>
#include <string>
#include <vector>

namespace lkpctl {

struct Invocation {
    std::string command;                        // subcommand name, empty when none was given
    std::vector<std::string> args;              // positional arguments
    std::map<std::string, std::string> values;  // value options by long name; the last one wins
    bool json = false;                          // --json
    bool verbose = false;                       // -v: library log lines on stderr
    bool help = false;                          // --help
    bool version = false;                       // --version
    bool no_wait = false;                       // --no-wait: never wait for the lock
    bool wait = false;                          // --wait[=SECONDS]: wait for transitions
    double wait_seconds = 0;                    // its timeout

    // The value of a value option, or fallback when it was not given.
    const std::string &value(const std::string &name, const std::string &fallback) const {
        auto found = values.find(name);
        return found != values.end() ? found->second : fallback;
    }
    bool has(const std::string &name) const { return values.count(name) != 0; }
};

}  // namespace lkpctl

#endif
