// Subprocess runs for the tool tests.
#include "tool_support.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "lkpsim/lkpsim.h"

namespace lkptest {

const char *const MSG_INVALID = "Invalid arguments:NULL-pointer,zero-size...";
const char *const MSG_FILE_MISSING = "File does not exist.";
const char *const MSG_ALREADY_LOADED =
    "There are patches loaded in kernel already,it's not supported to apply patches for another "
    "time.";
const char *const MSG_NOT_LOADED = "There are no patches in dir specified by argument dir.";

std::string manager_missing() {
    struct utsname identity {};
    (void)uname(&identity);
    const std::string module = std::string("/lib/modules/") + identity.release + "/mts/tesvar.ko";
    return "the patch manager module is not loaded (no /proc/navo_lkp_list) and " + module +
           " does not exist; install the module there, or insert it with: lkpctl insmod FILE";
}

std::string built_program(const std::string &built_path) {
    char exe[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) {
        return built_path;
    }
    const std::filesystem::path exe_dir = std::filesystem::path(exe).parent_path();
    const std::filesystem::path relative =
        std::filesystem::path(built_path).lexically_relative(LKPCTL_TEST_DIR);
    return (exe_dir / relative).lexically_normal().string();
}

std::vector<std::string> emulator_words() {
    std::vector<std::string> words;
    const char *emulator = std::getenv("LKPSIM_EMULATOR");
    std::istringstream text(emulator != nullptr ? emulator : "");
    for (std::string word; text >> word;) {
        words.push_back(word);
    }
    return words;
}

ToolRun run_tool(const std::string &program, const std::vector<std::string> &args) {
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    ToolRun run;
    run.status = lkpsim::run_program(argv.data(), &run.out, &run.err);
    return run;
}

std::string file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void expect_run(const ToolRun &run, const Expected &want) {
    std::ostringstream line;
    for (const std::string &arg : want.args) {
        line << " " << arg;
    }
    SCOPED_TRACE("lkpctl" + line.str());
    EXPECT_EQ(run.status, want.status);
    EXPECT_EQ(run.out, want.out);
    EXPECT_EQ(run.err, want.err);
}

std::string failure(const std::string &command, int code, const std::string &message) {
    return "lkpctl: " + command + ": " + std::to_string(code) + ": " + message + "\n";
}

std::string json_line(const std::string &command, int result, const std::string &message,
                      const std::string &data, const std::string &details) {
    return R"({"command":")" + command + R"(","result":)" + std::to_string(result) +
           R"(,"message":")" + message + R"(","data":)" + data +
           (details.empty() ? "" : R"(,"details":)" + details) + "}\n";
}

std::string ToolTest::expand(std::string text) {
    const std::string dir = scratch_dir();
    for (size_t at = text.find("%D"); at != std::string::npos;
         at = text.find("%D", at + dir.size())) {
        text.replace(at, 2, dir);
    }
    return text;
}

ToolRun ToolTest::lkpctl(const std::vector<std::string> &args) {
    std::vector<std::string> expanded;
    for (const std::string &arg : args) {
        expanded.push_back(expand(arg));
    }
    return run_tool(built_program(LKPCTL_PATH), expanded);
}

void ToolTest::run_steps(const std::vector<Expected> &steps) {
    for (const Expected &step : steps) {
        expect_run(lkpctl(step.args), {step.args, step.status, expand(step.out), expand(step.err)});
    }
}

std::string ToolTest::build(const lkpsim::PackageSpec &spec) {
    const std::string path = lkpsim::build_package(spec, scratch_dir());
    EXPECT_FALSE(path.empty()) << "cannot build " << spec.file_name;
    return path;
}

std::string ToolTest::build_simple(const std::string &file_name,
                                   const std::vector<std::string> &targets,
                                   const std::string &prefix) {
    lkpsim::PackageSpec spec =
        lkpsim::simple_package(file_name, static_cast<int>(targets.size()), prefix);
    for (size_t k = 0; k < targets.size(); ++k) {
        spec.units[k].module.targets = {targets[k]};
    }
    return build(spec);
}

std::string running_release() {
    struct utsname identity {};
    (void)uname(&identity);
    return identity.release;
}

std::string store() {
    return "%D/root/var/lib/tesvar/" + running_release();
}

}  // namespace lkptest
