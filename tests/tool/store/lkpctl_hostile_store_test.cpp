// The store against a careless or hostile operator and a corrupted device:
// names that lead outside the store, links and special files where the
// store's files belong, names of the store's own files, order files in odd
// shapes, a huge order file, and a lock file that is not a regular file.
// Every case runs the real lkpctl on the simulated kernel side.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "lkpsim/lkpsim.h"
#include "tool_support.h"

namespace lkptest {
namespace {

const std::string STORE = store();
const std::string NOT_REGULAR = " is not a regular file; the store leaves it alone";

class LkpctlHostileStoreTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        build_simple("a.tar.gz", {"ext4"}, "afix_");
        build_simple("c.tar.gz", {"nfs"}, "cfix_");
        std::filesystem::create_directories(expand("%D/outside"));
        build_at("%D/outside", "evil.tar.gz", "evil_");
        write("%D/victim.txt", "precious");
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove("/run/lkpctl.lock", ignored);
        std::filesystem::remove_all("/run/lkpctl.lock", ignored);
        ToolTest::TearDown();
    }
    void build_at(const std::string &dir, const std::string &name, const std::string &prefix) {
        lkpsim::PackageSpec spec = lkpsim::simple_package(name, 1, prefix);
        EXPECT_FALSE(lkpsim::build_package(spec, expand(dir)).empty());
    }
    void write(const std::string &path, const std::string &bytes) {
        std::ofstream(expand(path), std::ios::binary) << bytes;
    }
    std::string read(const std::string &path) { return file_bytes(expand(path)); }
    static std::vector<std::string> store_args(std::vector<std::string> args) {
        args.emplace_back("--root");
        args.emplace_back("%D/root");
        return args;
    }
    void install_a() {
        run_steps({{store_args({"install", "%D/a.tar.gz"}), 0,
                    "a.tar.gz: installed\nboot order: a.tar.gz\n", ""}});
    }
    std::set<std::string> store_entries() {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(expand(STORE))) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
    // lkpctl under a bound, for cases where today's code blocks for ever.
    ToolRun bounded(const std::vector<std::string> &args) {
        // SIGKILL 5 s after the SIGTERM: a tool that defers SIGTERM still ends.
        std::vector<std::string> words{"-k", "5", "60"};
        for (const std::string &word : emulator_words()) {
            words.push_back(word);
        }
        words.push_back(built_program(LKPCTL_PATH));
        for (const std::string &arg : args) {
            words.push_back(expand(arg));
        }
        return run_tool("timeout", words);
    }
};

// 1. An order line that climbs out of the store is refused, never loaded;
// the packages around it are applied.
TEST_F(LkpctlHostileStoreTest, OrderLineOutsideTheStoreIsNeverLoaded) {
    install_a();
    write(STORE + "/order", "../../../../../outside/evil.tar.gz\na.tar.gz\n/abs/evil.tar.gz\n");
    run_steps({{store_args({"boot"}), 1,
                "refused order line 1: package name '../../../../../outside/evil.tar.gz' "
                "contains '/'\nrefused order line 3: package name '/abs/evil.tar.gz' contains "
                "'/'\na.tar.gz: applied\n",
                "lkpctl: boot: 2 of 3 installed packages failed\n" +
                    failure("boot", -257, MSG_INVALID)}});
    EXPECT_EQ(lkpsim::history("op"), (std::vector<std::string>{"op add,1,a.tar.gz,afix_1"}));
    EXPECT_FALSE(lkpsim::module_inserted("evil_1"));
}

// 2. uninstall of a name that climbs out deletes nothing and fails.
TEST_F(LkpctlHostileStoreTest, UninstallOfANameOutsideTheStoreDeletesNothing) {
    install_a();
    write(STORE + "/order", "a.tar.gz\n../../../../../victim.txt\n");
    run_steps({{store_args({"uninstall", "../../../../../victim.txt"}), 1, "",
                "lkpctl: uninstall: package name '../../../../../victim.txt' contains '/'\n" +
                    failure("uninstall", -257, MSG_INVALID)}});
    EXPECT_EQ(read("%D/victim.txt"), "precious");
    // The next change drops the bad line and says so.
    run_steps({{store_args({"uninstall", "a.tar.gz"}), 0,
                "a.tar.gz: uninstalled\ndropped order line 2: package name "
                "'../../../../../victim.txt' contains '/'\nboot order: (none)\n",
                ""}});
    EXPECT_EQ(read("%D/victim.txt"), "precious");
    EXPECT_EQ(read(STORE + "/order"), "");
}

// 3. A release that is not a plain name, or a store directory (or a parent
// of it) that is a symbolic link, is refused before anything is written or
// removed.
TEST_F(LkpctlHostileStoreTest, ReleaseOutsideOrThroughALinkIsRefused) {
    std::filesystem::create_directories(expand("%D/victim2"));
    write("%D/victim2/keep.txt", "keep");
    run_steps({
        {store_args({"install", "--kernel-release", "../../../victim2", "%D/a.tar.gz"}), 1, "",
         "lkpctl: install: kernel release '../../../victim2' contains '/'\n" +
             failure("install", -257, MSG_INVALID)},
        {store_args({"status", "--kernel-release", ".."}), 3,
         "needs an operator: kernel release '..' is empty or a dot name\nkernel release: ..\n"
         "live patching: supported\npatch manager: loaded\nloaded packages:\n  (none)\n"
         "installed packages (%D/root/var/lib/tesvar/.., boot order):\n  (none)\n"
         "needs an operator:\n  kernel release '..' is empty or a dot name\n",
         ""},
    });
    std::filesystem::create_directories(expand("%D/root/var/lib/tesvar"));
    std::filesystem::create_directory_symlink(expand("%D/victim2"), expand(STORE));
    const std::string refused = " is a symbolic link or not a directory; the store refuses it\n";
    run_steps({
        {store_args({"install", "%D/a.tar.gz"}), 1, "",
         "lkpctl: install: " + STORE + refused + failure("install", -20, "Not a directory")},
        {store_args({"boot"}), 1, "",
         "lkpctl: boot: " + STORE + refused + failure("boot", -20, "Not a directory")},
    });
    std::filesystem::remove(expand(STORE));
    std::filesystem::remove(expand("%D/root/var/lib/tesvar"));
    std::filesystem::create_directory_symlink(expand("%D/victim2"),
                                              expand("%D/root/var/lib/tesvar"));
    run_steps({{store_args({"install", "%D/a.tar.gz"}), 1, "",
                "lkpctl: install: %D/root/var/lib/tesvar" + refused +
                    failure("install", -20, "Not a directory")}});
    EXPECT_EQ(std::filesystem::directory_iterator(expand("%D/victim2"))->path().filename(),
              "keep.txt");
    EXPECT_EQ(read("%D/victim2/keep.txt"), "keep");
    EXPECT_TRUE(lkpsim::history().empty());
}

// 4. CR LF line ends, blanks around names, blank lines: every listed package
// keeps its file and is applied.
TEST_F(LkpctlHostileStoreTest, OrderLinesWithCrLfAndBlanksKeepTheirPackages) {
    install_a();
    run_steps({{store_args({"install", "%D/c.tar.gz"}), 0,
                "c.tar.gz: installed\nboot order: a.tar.gz, c.tar.gz\n", ""}});
    write(STORE + "/order", "a.tar.gz\r\n  c.tar.gz \t\r\n\r\n \n");
    build_simple("d.tar.gz", {"vmlinux"}, "dfix_");
    run_steps({
        {store_args({"install", "%D/d.tar.gz"}), 0,
         "d.tar.gz: installed\nboot order: a.tar.gz, c.tar.gz, d.tar.gz\n", ""},
        {store_args({"boot"}), 0, "a.tar.gz: applied\nc.tar.gz: applied\nd.tar.gz: applied\n", ""},
    });
    EXPECT_EQ(store_entries(),
              (std::set<std::string>{"order", "a.tar.gz", "c.tar.gz", "d.tar.gz"}));
}

// 5. The store's own names are no package names: "order" and the
// temporaries cannot be installed or uninstalled.
TEST_F(LkpctlHostileStoreTest, TheStoresOwnNamesAreNoPackageNames) {
    install_a();
    write("%D/order", "a.tar.gz\n");
    write("%D/.order.new", "x");
    run_steps({
        {store_args({"install", "%D/order"}), 1, "",
         "lkpctl: install: package name 'order' is the store's order file\n" +
             failure("install", -257, MSG_INVALID)},
        {store_args({"install", "%D/.order.new"}), 1, "",
         "lkpctl: install: package name '.order.new' starts with '.'\n" +
             failure("install", -257, MSG_INVALID)},
        {store_args({"uninstall", "order"}), 1, "",
         "lkpctl: uninstall: package name 'order' is the store's order file\n" +
             failure("uninstall", -257, MSG_INVALID)},
    });
    EXPECT_EQ(read(STORE + "/order"), "a.tar.gz\n");
    // An order line naming the order file is refused, not applied.
    write(STORE + "/order", "order\na.tar.gz\n");
    run_steps({{store_args({"boot"}), 1,
                "refused order line 1: package name 'order' is the store's order file\n"
                "a.tar.gz: applied\n",
                "lkpctl: boot: 1 of 2 installed packages failed\n" +
                    failure("boot", -257, MSG_INVALID)}});
    EXPECT_EQ(store_entries(), (std::set<std::string>{"order", "a.tar.gz"}));
}

// 6. A FIFO where the order file or its temporary belongs blocks nothing:
// every command says what is wrong and leaves the FIFO alone.
TEST_F(LkpctlHostileStoreTest, FifoInPlaceOfTheOrderFileBlocksNothing) {
    install_a();
    ASSERT_EQ(unlink(expand(STORE + "/order").c_str()), 0);
    ASSERT_EQ(mkfifo(expand(STORE + "/order").c_str(), 0644), 0);
    const std::string order = STORE + "/order" + NOT_REGULAR + "\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> commands = {
        {store_args({"install", "%D/c.tar.gz"}), "install"},
        {store_args({"uninstall", "a.tar.gz"}), "uninstall"},
        {store_args({"boot"}), "boot"},
    };
    for (const auto &[args, command] : commands) {
        const ToolRun run = bounded(args);
        expect_run(run, {args, 1, "",
                         expand("lkpctl: " + command + ": " + order +
                                failure(command, -266, MSG_FILE_MISSING))});
    }
    const ToolRun status = bounded(store_args({"status"}));
    EXPECT_EQ(status.status, 3);
    EXPECT_NE(status.out.find("needs an operator: " + expand(order)), std::string::npos)
        << status.out;
    ASSERT_EQ(unlink(expand(STORE + "/order").c_str()), 0);
    ASSERT_EQ(mkfifo(expand(STORE + "/.order.new").c_str(), 0644), 0);
    const ToolRun run = bounded(store_args({"install", "%D/c.tar.gz"}));
    expect_run(run, {{"install"},
                     1,
                     "",
                     expand("lkpctl: install: " + STORE + "/.order.new" + NOT_REGULAR + "\n" +
                            failure("install", -266, MSG_FILE_MISSING))});
    struct stat status_of {};
    ASSERT_EQ(lstat(expand(STORE + "/.order.new").c_str(), &status_of), 0);
    EXPECT_TRUE(S_ISFIFO(status_of.st_mode));
}

// Links and special files in place of packages are never loaded, and what
// the store did not make is never removed.
TEST_F(LkpctlHostileStoreTest, OnlyWhatTheStoreMadeIsLoadedOrRemoved) {
    install_a();
    std::filesystem::create_symlink(expand("%D/outside/evil.tar.gz"), expand(STORE + "/c.tar.gz"));
    write(STORE + "/order", "a.tar.gz\nc.tar.gz\n");
    run_steps({{store_args({"boot"}), 1,
                "a.tar.gz: applied\nc.tar.gz: failed: -266: " + std::string(MSG_FILE_MISSING) +
                    ": " + STORE + "/c.tar.gz" + NOT_REGULAR + "\n",
                "lkpctl: boot: 1 of 2 installed packages failed\n" +
                    failure("boot", -266, MSG_FILE_MISSING)}});
    EXPECT_FALSE(lkpsim::module_inserted("evil_1"));
    // Someone else's files, a directory and a link stay through install and
    // uninstall; a stray package file and a temporary of the store's go.
    write(STORE + "/README.txt", "notes");
    std::filesystem::create_directory(expand(STORE + "/sub"));
    std::filesystem::create_symlink(expand("%D/victim.txt"), expand(STORE + "/old.tar.gz"));
    write(STORE + "/stray.tar.gz", "stray");
    write(STORE + "/.a.tar.gz.new", "half");
    write(STORE + "/order", "a.tar.gz\n");
    run_steps({
        {store_args({"install", "%D/a.tar.gz"}), 0, "a.tar.gz: installed\nboot order: a.tar.gz\n",
         ""},
        {store_args({"uninstall", "a.tar.gz"}), 0, "a.tar.gz: uninstalled\nboot order: (none)\n",
         ""},
    });
    EXPECT_EQ(store_entries(),
              (std::set<std::string>{"order", "README.txt", "sub", "c.tar.gz", "old.tar.gz"}));
    EXPECT_EQ(read("%D/victim.txt"), "precious");
    EXPECT_EQ(read("%D/outside/evil.tar.gz").empty(), false);
    // uninstall of a name whose file is a link fails before changing anything.
    write(STORE + "/order", "c.tar.gz\n");
    run_steps({{store_args({"uninstall", "c.tar.gz"}), 1, "",
                "lkpctl: uninstall: " + STORE + "/c.tar.gz" + NOT_REGULAR + "\n" +
                    failure("uninstall", -266, MSG_FILE_MISSING)}});
    EXPECT_EQ(read(STORE + "/order"), "c.tar.gz\n");
}

// 7. 100,000 order lines (each name twice): status and boot list each name
// once, in order. Reading is linear (bench/store_order_bench measures it).
TEST_F(LkpctlHostileStoreTest, HundredThousandOrderLinesAreReadWhole) {
    install_a();
    constexpr int COUNT = 100000;
    std::string text;
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < COUNT; ++k) {
            text += "p" + std::to_string(k) + ".tar.gz\n";
        }
    }
    write(STORE + "/order", text);
    const ToolRun status = lkpctl(store_args({"status"}));
    EXPECT_EQ(status.status, 3) << status.err;  // each is installed but not loaded
    EXPECT_NE(status.out.find("\n  p0.tar.gz  not loaded\n  p1.tar.gz  not loaded\n"),
              std::string::npos);
    EXPECT_NE(status.out.find("  p99999.tar.gz  not loaded\n"), std::string::npos);
    // Each name once as installed and once as a finding, besides the summary,
    // release, live patching, manager, loaded, (none), installed and
    // findings lines.
    EXPECT_EQ(std::count(status.out.begin(), status.out.end(), '\n'), 2 * COUNT + 8);
    const ToolRun boot = lkpctl(store_args({"boot"}));
    EXPECT_EQ(boot.status, 1);
    EXPECT_EQ(std::count(boot.out.begin(), boot.out.end(), '\n'), COUNT);
    EXPECT_EQ(boot.out.substr(0, boot.out.find('\n') + 1),
              "p0.tar.gz: failed: -266: " + std::string(MSG_FILE_MISSING) + ": " + expand(STORE) +
                  "/p0.tar.gz does not exist\n");
    EXPECT_EQ(boot.err, "lkpctl: boot: 100000 of 100000 installed packages failed\n" +
                            failure("boot", -266, MSG_FILE_MISSING));
}

// /run/lkpctl.lock that is not a regular file: no changing command runs
// unserialised; each says why, changes nothing and never blocks.
TEST_F(LkpctlHostileStoreTest, LockFileThatIsNotARegularFileStopsEveryChange) {
    const std::string refused =
        "lkpctl: load: /run/lkpctl.lock is not a regular file (a directory, link, FIFO or other "
        "special file): nothing is changed until it is removed\n" +
        failure("load", -37, "No locks available");
    const std::vector<std::pair<std::string, std::function<void()>>> forms = {
        {"directory", [] { ASSERT_EQ(mkdir("/run/lkpctl.lock", 0700), 0); }},
        {"symbolic link", [] { ASSERT_EQ(symlink("/run/elsewhere", "/run/lkpctl.lock"), 0); }},
        {"link to a file",
         [this] { ASSERT_EQ(symlink(expand("%D/victim.txt").c_str(), "/run/lkpctl.lock"), 0); }},
        {"FIFO", [] { ASSERT_EQ(mkfifo("/run/lkpctl.lock", 0600), 0); }},
    };
    for (const auto &[form, make] : forms) {
        SCOPED_TRACE(form);
        std::error_code ignored;
        std::filesystem::remove("/run/lkpctl.lock", ignored);
        make();
        const ToolRun run = bounded({"load", "%D/a.tar.gz"});
        expect_run(run, {{"load"}, 1, "", refused});
        EXPECT_TRUE(lkpsim::history().empty());
    }
    EXPECT_EQ(read("%D/victim.txt"), "precious");
    // Reading commands take no lock and still work.
    const ToolRun list = bounded({"list"});
    EXPECT_EQ(list.status, 0) << list.err;
}

}  // namespace
}  // namespace lkptest
