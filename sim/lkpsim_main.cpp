// lkpsim: runs a program against the simulated kernel side, or writes module
// images for trying the library and the tool by hand.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "lkpsim/lkpsim.h"
#include "lkpsim/module_image.h"

namespace {

constexpr int kUsageError = 2;

const char kUsage[] =
    "usage:\n"
    "  lkpsim run [--manager loaded|insertable|refused|missing] [--log FILE] -- PROGRAM "
    "[ARGS...]\n"
    "      Runs PROGRAM in a private namespace with the simulated kernel side, then\n"
    "      prints the system log lines it produced (\"syslog: TEXT\") to stderr or FILE.\n"
    "      The exit status is PROGRAM's. Default manager state: insertable.\n"
    "  lkpsim mkmod -o FILE --name NAME [--target MODULE]... [--vermagic TEXT] [--32|--64] "
    "[--big-endian]\n"
    "               [--name-in-this-module] [--no-livepatch]\n"
    "      Writes a module image (default: 64-bit little endian, target vmlinux).\n"
    "  lkpsim kernel records | history | register NUM PKG PATCH\n"
    "  lkpsim kernel scene instant|after-signal|until-released | task PID COMM | release PID\n"
    "  lkpsim kernel model upstream|default\n"
    "      Inside a namespace set up by another process (a test, `lkpsim run`):\n"
    "      prints the registered records or the history, or registers a record;\n"
    "      sets how transitions end, adds a simulated task, or lets one switch;\n"
    "      picks the kernel model (upstream: a patch enabled by its insertion, a\n"
    "      disabled patch freed). `lkpsim run` starts with the upstream model when\n"
    "      LKPSIM_KERNEL=upstream.\n"
    "  lkpsim --help\n";

int usage_error(const std::string &message) {
    std::cerr << "lkpsim: " << message << "\n" << kUsage;
    return kUsageError;
}

// ---------------------------------------------------------------- run

struct RunOptions {
    lkpsim::Manager manager = lkpsim::Manager::AbsentInsertable;
    std::string log_file;
    std::vector<char *> program;  // NULL-terminated argument vector
};

bool parse_manager(const std::string &word, lkpsim::Manager *manager) {
    static const std::pair<const char *, lkpsim::Manager> kWords[] = {
        {"loaded", lkpsim::Manager::Loaded},
        {"insertable", lkpsim::Manager::AbsentInsertable},
        {"refused", lkpsim::Manager::AbsentRefused},
        {"missing", lkpsim::Manager::AbsentMissing},
    };
    for (const auto &entry : kWords) {
        if (word == entry.first) {
            *manager = entry.second;
            return true;
        }
    }
    return false;
}

// Returns "" on success, else what is wrong with the arguments.
std::string parse_run(int argc, char **argv, RunOptions *options) {
    int i = 2;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            return "missing value for " + option;
        }
        if (option == "--manager") {
            if (!parse_manager(argv[++i], &options->manager)) {
                return std::string("unknown manager state: ") + argv[i];
            }
        } else if (option == "--log") {
            options->log_file = argv[++i];
        } else {
            return "unknown option for run: " + option;
        }
    }
    if (i + 1 >= argc) {
        return "run needs -- PROGRAM";
    }
    options->program.assign(argv + i + 1, argv + argc);
    options->program.push_back(nullptr);
    return "";
}

// Returns false when the lines could not all be written.
bool print_log(std::ostream &out) {
    for (const std::string &text : lkpsim::take_log_texts()) {
        out << "syslog: " << text << "\n";
    }
    out.flush();
    return static_cast<bool>(out);
}

int run_command(int argc, char **argv) {
    RunOptions options;
    const std::string problem = parse_run(argc, argv, &options);
    if (!problem.empty()) {
        return usage_error(problem);
    }
    // Opened before entering: the namespace has a /tmp of its own.
    std::ofstream log_file;
    if (!options.log_file.empty()) {
        log_file.open(options.log_file, std::ios::trunc);
        if (!log_file) {
            std::cerr << "lkpsim: cannot write " << options.log_file << "\n";
            return 1;
        }
    }
    lkpsim::enter();
    lkpsim::set_manager(options.manager);
    // The kernel model a test picked for the whole run (LKPSIM_KERNEL).
    lkpsim::set_enable_on_insert(lkpsim::upstream_by_default());
    const int status = lkpsim::run_program(options.program.data());
    if (!print_log(options.log_file.empty() ? std::cerr : log_file)) {
        std::cerr << "lkpsim: cannot write the log to " << options.log_file << "\n";
    }
    return status;
}

// ---------------------------------------------------------------- mkmod

struct MkmodOptions {
    std::string output;
    lkpsim::ModuleSpec spec;
    bool targets_given = false;
};

// Handles an option without a value; false when `option` is not one.
bool parse_flag(const std::string &option, lkpsim::ModuleSpec *spec) {
    if (option == "--32" || option == "--64") {
        spec->elf_class = option == "--32" ? 32 : 64;
    } else if (option == "--big-endian") {
        spec->big_endian = true;
    } else if (option == "--name-in-this-module") {
        spec->name_in_this_module = true;
    } else if (option == "--no-livepatch") {
        spec->livepatch = false;
    } else {
        return false;
    }
    return true;
}

// Handles an option with a value; false when `option` is not one.
bool parse_valued(const std::string &option, const char *value, MkmodOptions *options) {
    if (option == "-o") {
        options->output = value;
    } else if (option == "--name") {
        options->spec.name = value;
    } else if (option == "--vermagic") {
        options->spec.vermagic = value;
    } else if (option == "--target") {
        if (!options->targets_given) {
            options->spec.targets.clear();
            options->targets_given = true;
        }
        options->spec.targets.emplace_back(value);
    } else {
        return false;
    }
    return true;
}

std::string parse_mkmod(int argc, char **argv, MkmodOptions *options) {
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (parse_flag(option, &options->spec)) {
            continue;
        }
        if (i + 1 < argc && parse_valued(option, argv[i + 1], options)) {
            ++i;
            continue;
        }
        return "unknown option or missing value for mkmod: " + option;
    }
    if (options->output.empty() || options->spec.name.empty()) {
        return "mkmod needs -o FILE and --name NAME";
    }
    return "";
}

int mkmod_command(int argc, char **argv) {
    MkmodOptions options;
    const std::string problem = parse_mkmod(argc, argv, &options);
    if (!problem.empty()) {
        return usage_error(problem);
    }
    if (!lkpsim::write_module_file(options.output, options.spec)) {
        std::cerr << "lkpsim: cannot write " << options.output << "\n";
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- kernel

void print_lines(const std::vector<std::string> &lines) {
    for (const std::string &line : lines) {
        std::cout << line << "\n";
    }
}

// A whole decimal int; false for anything else.
bool parse_int(const std::string &text, int *value) {
    char *end = nullptr;
    errno = 0;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || number < INT_MIN || number > INT_MAX) {
        return false;
    }
    *value = static_cast<int>(number);
    return true;
}

// The transition scene a word names; false for an unknown word.
bool parse_scene(const std::string &word, lkpsim::TransitionScene *scene) {
    const std::pair<const char *, lkpsim::TransitionScene> scenes[] = {
        {"instant", lkpsim::TransitionScene::Instant},
        {"after-signal", lkpsim::TransitionScene::AfterSignal},
        {"until-released", lkpsim::TransitionScene::UntilReleased},
    };
    for (const auto &[name, value] : scenes) {
        if (word == name) {
            *scene = value;
            return true;
        }
    }
    return false;
}

// scene, task, release and model: the transitions and the kernel model of
// scripts run under `lkpsim run`.
int transition_command(const std::vector<std::string> &args) {
    if (args[0] == "model") {
        if (args[1] != "upstream" && args[1] != "default") {
            return usage_error("not a kernel model: " + args[1]);
        }
        lkpsim::set_enable_on_insert(args[1] == "upstream");
        return 0;
    }
    if (args[0] == "scene") {
        lkpsim::TransitionScene scene{};
        if (!parse_scene(args[1], &scene)) {
            return usage_error("not a transition scene: " + args[1]);
        }
        lkpsim::set_transition_scene(scene);
        return 0;
    }
    int pid = 0;
    if (!parse_int(args[1], &pid) || pid <= 0) {
        return usage_error("not a task id: " + args[1]);
    }
    if (args[0] == "task") {
        lkpsim::add_task(pid, args[2], "");
    } else {
        lkpsim::release_task(pid);
    }
    return 0;
}

int kernel_command(int argc, char **argv) {
    const std::vector<std::string> args(argv + 2, argv + argc);
    const bool transition =
        (args.size() == 2 && (args[0] == "scene" || args[0] == "release" || args[0] == "model")) ||
        (args.size() == 3 && args[0] == "task");
    const bool known = (args.size() == 1 && (args[0] == "records" || args[0] == "history")) ||
                       (args.size() == 4 && args[0] == "register") || transition;
    if (!known) {
        return usage_error(
            "kernel needs records, history, register NUM PKG PATCH, scene WORD, task PID COMM, "
            "release PID or model WORD");
    }
    if (!lkpsim::attach()) {
        std::cerr << "lkpsim: no simulated kernel side here\n";
        return 1;
    }
    if (transition) {
        return transition_command(args);
    }
    if (args[0] == "records") {
        print_lines(lkpsim::records());
    } else if (args[0] == "history") {
        print_lines(lkpsim::history());
    } else {
        int num = 0;
        if (!parse_int(args[1], &num)) {
            return usage_error("not a record number: " + args[1]);
        }
        lkpsim::register_patch(num, args[2], args[3]);
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        return usage_error("missing command");
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "run") {
        return run_command(argc, argv);
    }
    if (command == "mkmod") {
        return mkmod_command(argc, argv);
    }
    if (command == "kernel") {
        return kernel_command(argc, argv);
    }
    return usage_error("unknown command: " + command);
}
