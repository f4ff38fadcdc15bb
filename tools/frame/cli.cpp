// Command-line parsing.
#include "cli.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace lkpctl {
namespace {

// "-5" is a number (strerror takes negative codes); "-" alone names stdin-like operands.
bool looks_like_option(const std::string &arg) {
    return arg.size() > 1 && arg[0] == '-' && std::isdigit(static_cast<unsigned char>(arg[1])) == 0;
}

constexpr double DEFAULT_WAIT_SECONDS = 60.0;
constexpr double MAX_WAIT_SECONDS = 86400.0;
constexpr const char *WAIT_OPTION = "--wait";

}  // namespace

bool waits_for_transitions(const std::string &command) {
    return command == "load" || command == "activate" || command == "deactivate" ||
           command == "remove" || command == "boot";
}

namespace {

// "--wait" or "--wait=SECONDS"; false when arg is neither. A bad number is
// a usage error in *error.
bool take_wait_option(const std::string &arg, Invocation &inv, std::string *error) {
    const size_t length = std::strlen(WAIT_OPTION);
    if (arg.compare(0, length, WAIT_OPTION) != 0 || (arg.size() > length && arg[length] != '=')) {
        return false;
    }
    inv.wait = true;
    inv.wait_seconds = DEFAULT_WAIT_SECONDS;
    if (arg.size() == length) {
        return true;
    }
    const std::string text = arg.substr(length + 1);
    char *end = nullptr;
    errno = 0;
    const double seconds = text.empty() || std::isdigit(static_cast<unsigned char>(text[0])) == 0
                               ? -1.0
                               : std::strtod(text.c_str(), &end);
    if (errno != 0 || end == nullptr || *end != '\0' || !(seconds > 0.0) ||
        seconds > MAX_WAIT_SECONDS) {
        *error = "--wait takes a number of seconds above 0 and at most 86400, not '" + text + "'";
    }
    inv.wait_seconds = seconds;
    return true;
}

// Sets a global flag; false when arg is none of them.
bool take_global_flag(const std::string &arg, Invocation &inv) {
    if (arg == "--json") {
        inv.json = true;
    } else if (arg == "-v" || arg == "--verbose") {
        inv.verbose = true;
    } else if (arg == "--no-wait") {
        inv.no_wait = true;
    } else if (arg == "-h" || arg == "--help") {
        inv.help = true;
    } else {
        return false;
    }
    return true;
}

const ValueOption *find_option(const Command &command, const std::string &name) {
    for (size_t index = 0; index < command.option_count; ++index) {
        const ValueOption &option = command.options[index];
        if (name == option.long_name ||
            (option.short_name != nullptr && name == option.short_name)) {
            return &option;
        }
    }
    return nullptr;
}

class Parser {
public:
    Parser(const CommandTable &table, int argc, const char *const argv[])
        : table_(table), argc_(argc), argv_(argv) {}

    ParsedLine run() {
        while (index_ < argc_ && result_.error.empty()) {
            take(argv_[index_++]);
        }
        if (result_.error.empty()) {
            check_counts();
        }
        return std::move(result_);
    }

private:
    void take(const std::string &arg) {
        if (!options_done_ && arg == "--") {
            options_done_ = true;
        } else if (options_done_ || !looks_like_option(arg)) {
            take_operand(arg);
        } else if (arg == "--version" &&
                   (result_.command == nullptr || find_option(*result_.command, arg) == nullptr)) {
            // Anywhere, but for pack, whose own --version V is the package's version.
            result_.inv.version = true;
        } else if (!take_global_flag(arg, result_.inv) &&
                   !take_wait_option(arg, result_.inv, &result_.error)) {
            take_value_option(arg);
        }
    }

    void take_operand(const std::string &arg) {
        if (result_.command != nullptr) {
            result_.inv.args.push_back(arg);
            return;
        }
        result_.command = table_.find(arg);
        if (result_.command == nullptr) {
            result_.error = "unknown command '" + arg + "'";
            return;
        }
        result_.inv.command = arg;
    }

    void take_value_option(const std::string &arg) {
        const size_t equals = arg.find('=');
        const bool joined = arg.compare(0, 2, "--") == 0 && equals != std::string::npos;
        const std::string name = joined ? arg.substr(0, equals) : arg;
        const ValueOption *option =
            result_.command != nullptr ? find_option(*result_.command, name) : nullptr;
        if (option == nullptr) {
            result_.error = "unknown option '" + name + "'";
        } else if (option->value_name == nullptr) {
            if (joined) {
                result_.error = "option '" + name + "' takes no value";
            } else {
                result_.inv.values[option->long_name] = "";
            }
        } else if (joined) {
            result_.inv.values[option->long_name] = arg.substr(equals + 1);
        } else if (index_ < argc_) {
            result_.inv.values[option->long_name] = argv_[index_++];
        } else {
            result_.error = "option '" + name + "' needs a value";
        }
    }

    void check_counts() {
        const Command *command = result_.command;
        if (result_.inv.help || (result_.inv.version && command == nullptr)) {
            return;
        }
        if (command == nullptr) {
            result_.error = "no command given";
            return;
        }
        if (result_.inv.wait && !waits_for_transitions(command->name)) {
            result_.error =
                std::string("--wait is for load, activate, deactivate, remove and boot, not ") +
                command->name;
            return;
        }
        const size_t count = result_.inv.args.size();
        if (count < command->min_args) {
            result_.error = std::string("missing operand; usage: lkpctl ") + command->name + " " +
                            command->synopsis;
        } else if (count > command->max_args) {
            result_.error = "unexpected operand '" + result_.inv.args[command->max_args] + "'";
        }
    }

    const CommandTable &table_;
    int argc_;
    const char *const *argv_;
    int index_ = 1;
    bool options_done_ = false;
    ParsedLine result_;
};

}  // namespace

const Command *CommandTable::find(const std::string &name) const {
    for (const Command &command : *this) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

ParsedLine parse_command_line(const CommandTable &table, int argc, const char *const argv[]) {
    return Parser(table, argc, argv).run();
}

bool parse_int32(const std::string &text, int32_t *value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) != 0) {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' ||
        number < std::numeric_limits<int32_t>::min() ||
        number > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    *value = static_cast<int32_t>(number);
    return true;
}

}  // namespace lkpctl
