// Help texts, made from the subcommand table so they never drift from it.
#include "help.h"

#include <algorithm>
#include <cstring>

namespace lkpctl {
namespace {

constexpr size_t TEXT_WIDTH = 78;

constexpr const char *GLOBAL_OPTIONS =
    "Options (anywhere on the line):\n"
    "  --json         print exactly one JSON object on stdout\n"
    "  -v, --verbose  copy the library's log lines to stderr\n"
    "  --no-wait      fail at once instead of waiting while another lkpctl changes\n"
    "                 the kernel's patches\n"
    "  --wait[=SECONDS]  load, activate, deactivate, remove, boot: wait until no\n"
    "                 patch of the package is in transition (60 s by default)\n"
    "  -h, --help     show help and exit\n"
    "  --version      print lkpctl's version and exit (after pack, --version V is\n"
    "                 the package's version)\n"
    "  --             end of options; what follows is an operand\n";

constexpr const char *EXIT_STATUS =
    "Exit status: 0 success, 1 the operation failed or its output could not be\n"
    "written, 2 the command line was wrong; state: 3 disabled, 4 not loaded;\n"
    "status: 3 something needs an operator. 130/143/129: stopped by SIGINT/SIGTERM/\n"
    "SIGHUP: a running library call is finished first, then what the command did\n"
    "is undone and it says so.\n"
    "Commands that change the kernel run one at a time (lock /run/lkpctl.lock).\n";

std::string padded(const std::string &text, size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 1, ' ');
}

// Greedy word wrap, so the table's paragraphs can be written as one string.
std::string wrapped(const std::string &paragraph, size_t width) {
    std::string text;
    size_t line_length = 0;
    size_t at = 0;
    while (at < paragraph.size()) {
        const size_t blank = std::min(paragraph.find(' ', at), paragraph.size());
        const std::string word = paragraph.substr(at, blank - at);
        if (line_length != 0 && line_length + 1 + word.size() > width) {
            text += "\n";
            line_length = 0;
        } else if (line_length != 0) {
            text += ' ';
            ++line_length;
        }
        text += word;
        line_length += word.size();
        at = blank + 1;
    }
    return text + "\n";
}

std::string usage_line(const Command &command) {
    std::string line = std::string("lkpctl ") + command.name;
    if (command.option_count != 0) {
        line += " [OPTIONS]";
    }
    if (std::strlen(command.synopsis) != 0) {
        line += std::string(" ") + command.synopsis;
    }
    return line;
}

std::string option_label(const ValueOption &option) {
    std::string label = option.short_name != nullptr ? std::string(option.short_name) + ", " : "";
    return label + option.long_name +
           (option.value_name != nullptr ? std::string(" ") + option.value_name : "");
}

}  // namespace

std::string tool_help(const CommandTable &table) {
    size_t width = 0;
    for (const Command &command : table) {
        width = std::max(width, std::strlen(command.name) + std::strlen(command.synopsis) + 3);
    }
    std::string text =
        "Usage: lkpctl [--json] [-v] [--no-wait] COMMAND [ARGS...]\n"
        "Manage live kernel patch packages.\n\nCommands:\n";
    for (const Command &command : table) {
        text += "  " + padded(std::string(command.name) + " " + command.synopsis, width) +
                command.summary + "\n";
    }
    text += "\n";
    text += GLOBAL_OPTIONS;
    text +=
        "\nRun 'lkpctl help COMMAND' or 'lkpctl COMMAND --help' for a command's details;\n"
        "see also lkpctl(1).\n";
    text += EXIT_STATUS;
    return text;
}

std::string command_help(const Command &command) {
    std::string text = "Usage: " + usage_line(command) + "\n" + command.summary + "\n\n" +
                       wrapped(command.description, TEXT_WIDTH);
    if (command.option_count != 0) {
        text += "\nCommand options:\n";
        for (size_t index = 0; index < command.option_count; ++index) {
            const ValueOption &option = command.options[index];
            text += "  " + padded(option_label(option), 26) + option.help + "\n";
        }
    }
    text += "\n";
    text += GLOBAL_OPTIONS;
    text += "\n";
    text += EXIT_STATUS;
    return text;
}

}  // namespace lkpctl
