// The simulated kernel's whole state: one fixed-layout block in a shared file
// mapping, so that the test process, the file server and any subprocess in the
// namespace see the same kernel. Nothing in it may point into a process.
#ifndef LKPSIM_KERNEL_LAYOUT_H
#define LKPSIM_KERNEL_LAYOUT_H

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace lkpsim {

constexpr std::uint32_t KERNEL_MAGIC = 0x4c4b5053;  // "LKPS"
constexpr std::uint32_t KERNEL_LAYOUT_VERSION = 1;

constexpr std::size_t NAME_SIZE = 64;  // names of at most 63 characters
constexpr std::size_t MAX_RECORDS = 1024;
constexpr std::size_t MAX_MODULES = 1024;
constexpr std::size_t MAX_MODULE_TARGETS = 16;
constexpr std::size_t MAX_LOADED_TARGETS = 64;
constexpr std::size_t HISTORY_LINES = 1024;
constexpr std::size_t HISTORY_LINE_SIZE = 512;
constexpr std::size_t RAW_TEXT_SIZE = 65536;

struct Name {
    char text[NAME_SIZE];
};

// One line of the control file, with the state word the state file shows.
struct Record {
    std::int32_t num;
    Name pkg;
    Name patch;
    Name state;
};

// One inserted module: a patch, a plain module or the manager.
struct Module {
    Name name;
    std::uint32_t target_count;
    Name targets[MAX_MODULE_TARGETS];
    std::uint8_t livepatch;
    std::uint8_t hidden;  // livepatch directory hidden while inserted
};

// A fault armed for the next matching event.
struct Fault {
    std::uint8_t armed;
    std::int32_t error;
    Name name;  // empty: any
};

struct RawText {
    std::uint8_t set;
    std::uint32_t length;
    char text[RAW_TEXT_SIZE];
};

struct Kernel {
    std::uint32_t magic;
    std::uint32_t version;
    pthread_mutex_t mutex;  // process-shared, robust

    std::uint32_t record_count;
    Record records[MAX_RECORDS];

    std::uint32_t module_count;
    Module modules[MAX_MODULES];

    std::uint32_t loaded_target_count;
    Name loaded_targets[MAX_LOADED_TARGETS];

    std::uint8_t manager_refused;
    std::uint8_t state_file_present;

    Fault op_fault;
    Fault enable_fault;
    Fault init_fault;
    Fault delete_fault;

    std::uint64_t history_total;  // lines ever appended since the last clear
    char history[HISTORY_LINES][HISTORY_LINE_SIZE];

    RawText raw_control;
    RawText raw_state;
};

}  // namespace lkpsim

#endif
