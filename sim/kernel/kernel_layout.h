// The simulated kernel's whole state: one fixed-layout block in a shared file
// mapping, so that the test process, the file server and any subprocess in the
// namespace see the same kernel. Nothing in it may point into a process, and
// its layout is the same on every architecture (byte arrays and little-endian
// integers only, no padding), so that an emulated process of another
// architecture shares it with the native file server. Guarded by an open file
// description lock on the block's file (see kernel_state.h).
#ifndef LKPSIM_KERNEL_LAYOUT_H
#define LKPSIM_KERNEL_LAYOUT_H

#include <cstddef>
#include <cstdint>

#include "le_integer.h"

namespace lkpsim {

constexpr std::uint32_t KERNEL_MAGIC = 0x4c4b5053;  // "LKPS"
constexpr std::uint32_t KERNEL_LAYOUT_VERSION = 4;

constexpr std::size_t NAME_SIZE = 64;  // names of at most 63 characters
constexpr std::size_t MAX_RECORDS = 1024;
constexpr std::size_t MAX_MODULES = 1024;
constexpr std::size_t MAX_MODULE_TARGETS = 16;
constexpr std::size_t MAX_LOADED_TARGETS = 64;
constexpr std::size_t HISTORY_LINES = 1024;
constexpr std::size_t HISTORY_LINE_SIZE = 512;
constexpr std::size_t RAW_TEXT_SIZE = 65536;
constexpr std::size_t MAX_TASKS = 8;
constexpr std::size_t STACK_TEXT_SIZE = 256;

struct Name {
    char text[NAME_SIZE];
};

// One line of the control file, with the state word the state file shows.
struct Record {
    LeI32 num;
    Name pkg;
    Name patch;
    Name state;
};

// One inserted module: a patch, a plain module or the manager.
struct Module {
    Name name;
    LeU32 target_count;
    Name targets[MAX_MODULE_TARGETS];
    std::uint8_t livepatch;
    std::uint8_t hidden;  // livepatch directory hidden while inserted
};

// A fault armed for the next matching event.
struct Fault {
    std::uint8_t armed;
    LeI32 error;
    Name name;  // empty: any
};

struct RawText {
    std::uint8_t set;
    LeU32 length;
    char text[RAW_TEXT_SIZE];
};

// A simulated task that a transition can wait for. Its files appear under
// /proc/<pid>/task/<pid>/ in place of the real procfs entry.
struct Task {
    LeI32 pid;
    Name comm;
    char stack[STACK_TEXT_SIZE];
    std::uint8_t released;
    LeU64 release_at_ns;  // CLOCK_MONOTONIC; 0: only an explicit release
};

// How the next transitions end (TransitionMode in transitions.h), and the
// one transition under way: the kernel runs at most one at a time.
struct Transition {
    std::uint8_t mode;
    Name patch;           // empty: none under way
    std::uint8_t target;  // 1 patching, 0 unpatching
    std::uint8_t signalled;
    LeU32 task_count;
    Task tasks[MAX_TASKS];
};

struct Kernel {
    LeU32 magic;
    LeU32 version;

    LeU32 record_count;
    Record records[MAX_RECORDS];

    LeU32 module_count;
    Module modules[MAX_MODULES];

    LeU32 loaded_target_count;
    Name loaded_targets[MAX_LOADED_TARGETS];

    std::uint8_t manager_refused;
    std::uint8_t state_file_present;

    Fault op_fault;
    Fault enable_fault;
    Fault init_fault;
    Fault delete_fault;

    LeU64 history_total;  // lines ever appended since the last clear
    char history[HISTORY_LINES][HISTORY_LINE_SIZE];

    RawText raw_control;
    RawText raw_state;

    // 1: the upstream model - a live patch is enabled by its insertion,
    // disabling it is final and its enabled module cannot be removed.
    std::uint8_t enable_on_insert;

    Transition transition;
};

// The layout is part of the contract between architectures: any change here
// must change KERNEL_LAYOUT_VERSION and these figures.
static_assert(sizeof(Record) == 196 && offsetof(Record, pkg) == 4, "record layout");
static_assert(sizeof(Module) == 1094 && offsetof(Module, targets) == 68, "module layout");
static_assert(sizeof(Fault) == 69 && offsetof(Fault, name) == 5, "fault layout");
static_assert(sizeof(Task) == 333 && offsetof(Task, release_at_ns) == 325, "task layout");
static_assert(sizeof(Transition) == 2735 && offsetof(Transition, tasks) == 71, "transition layout");
static_assert(sizeof(RawText) == 5 + RAW_TEXT_SIZE, "raw text layout");
static_assert(offsetof(Kernel, records) == 12 && offsetof(Kernel, module_count) == 200716 &&
                  offsetof(Kernel, history_total) == 1325354 && sizeof(Kernel) == 1983468 &&
                  offsetof(Kernel, enable_on_insert) == 1980732 &&
                  offsetof(Kernel, transition) == 1980733,
              "kernel block layout");

}  // namespace lkpsim

#endif
