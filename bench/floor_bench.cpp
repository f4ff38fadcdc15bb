// Every operation beside its physical floor, in the same process and run:
// each benchmark iteration runs a batch of library calls and a batch of the
// floor (the least work the operation must do), alternately, and reports
// the calling thread's CPU time per call of each, their ratio, and the peak
// heap of one call of each. The queries and the no-op switches read the
// kernel's files as plain files (no file server in the measured path); load
// and remove need module calls and run on the simulated kernel side.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>

#include "heap_meter.h"
#include "lkpsim/lkpsim.h"
#include "lkpsim/package_builder.h"
#include "plain_kernel.h"
#include "scene.h"
#include "tesvar.h"

namespace {

constexpr const char *CONTROL_FILE = "/proc/navo_lkp_list";
constexpr const char *STATE_FILE = "/proc/livepatch/state";
constexpr const char *LIVEPATCH_DIR = "/sys/kernel/livepatch";
constexpr unsigned long REMOVAL_FLAGS = 0x880;  // O_NONBLOCK | O_TRUNC, as the library passes
constexpr int STATE_ENABLED = 5;
constexpr int STATE_DISABLED = 2;

double seconds_of(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
double thread_cpu() {
    return seconds_of(CLOCK_THREAD_CPUTIME_ID);
}
double wall() {
    return seconds_of(CLOCK_MONOTONIC);
}

using Call = std::function<bool()>;

// CPU time of `calls` calls (false, stopping, when one fails).
bool timed_batch(const Call &call, int calls, double *cpu) {
    const double start = thread_cpu();
    for (int i = 0; i < calls; ++i) {
        if (!call()) {
            return false;
        }
    }
    *cpu += thread_cpu() - start;
    return true;
}

std::size_t peak_heap(const Call &call) {
    lkpbench::heap_meter_start();
    (void)call();
    return lkpbench::heap_meter_stop();
}

void report_heap(benchmark::State &state, std::size_t op, std::size_t floor) {
    if (lkpbench::heap_meter_available()) {
        state.counters["op_heap_B"] = static_cast<double>(op);
        state.counters["floor_heap_B"] = static_cast<double>(floor);
    }
}

void report_pair(benchmark::State &state, double op_cpu, double floor_cpu, double calls) {
    if (calls <= 0 || floor_cpu <= 0) {
        return;
    }
    state.counters["op_us"] = op_cpu / calls * 1e6;
    state.counters["floor_us"] = floor_cpu / calls * 1e6;
    state.counters["ratio"] = op_cpu / floor_cpu;
}

// Batches of the operation and of its floor, alternately; the captured log
// is emptied between batches, outside both measurements.
void run_pair(benchmark::State &state, const Call &op, const Call &floor, int batch) {
    report_heap(state, peak_heap(op), peak_heap(floor));
    (void)lkpsim::take_log();
    double op_cpu = 0;
    double floor_cpu = 0;
    double calls = 0;
    for (auto _ : state) {
        if (!timed_batch(op, batch, &op_cpu)) {
            state.SkipWithError("the operation failed");
            break;
        }
        if (!timed_batch(floor, batch, &floor_cpu)) {
            state.SkipWithError("the floor failed");
            break;
        }
        calls += batch;
        state.PauseTiming();
        (void)lkpsim::take_log();
        state.ResumeTiming();
    }
    report_pair(state, op_cpu, floor_cpu, calls);
}

// About two milliseconds of floor per batch.
int batch_for(int records) {
    return records >= 2000 ? 1 : 2000 / records;
}

// --- Floors ----------------------------------------------------------------

// The least a reading of both kernel files takes: one getline pass over each.
bool read_both_files() {
    FILE *control = std::fopen(CONTROL_FILE, "re");
    FILE *state = std::fopen(STATE_FILE, "re");
    char *line = nullptr;
    size_t capacity = 0;
    long lines = 0;
    while (control != nullptr && getline(&line, &capacity, control) != -1) {
        ++lines;
    }
    while (state != nullptr && getline(&line, &capacity, state) != -1) {
        ++lines;
    }
    std::free(line);
    const bool read = control != nullptr && state != nullptr && lines > 0;
    if (control != nullptr) {
        std::fclose(control);
    }
    if (state != nullptr) {
        std::fclose(state);
    }
    benchmark::DoNotOptimize(lines);
    return read;
}

// The least an owner query takes: one reading of the control file and one
// stat per record (relative to the livepatch root, opened once).
bool owner_floor(const char *module, std::string *owner) {
    FILE *control = std::fopen(CONTROL_FILE, "re");
    const int root = open(LIVEPATCH_DIR, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    char *line = nullptr;
    size_t capacity = 0;
    char relative[256];
    owner->clear();
    while (control != nullptr && root >= 0) {
        const ssize_t length = getline(&line, &capacity, control);
        if (length <= 0) {
            break;
        }
        line[length - 1] = '\0';
        char *patch = std::strrchr(line, ',');
        char *package = patch != nullptr ? std::strchr(line, ',') : nullptr;
        if (package == nullptr || package == patch) {
            break;
        }
        *patch++ = '\0';
        std::snprintf(relative, sizeof relative, "%s/%s", patch, module);
        struct stat status {};
        if (fstatat(root, relative, &status, 0) == 0 && S_ISDIR(status.st_mode)) {
            owner->assign(package + 1);
        }
    }
    std::free(line);
    if (root >= 0) {
        close(root);
    }
    if (control != nullptr) {
        std::fclose(control);
    }
    return !owner->empty();
}

// --- Queries and no-op switches on plain files -------------------------------

void plain_records(benchmark::internal::Benchmark *bench) {
    bench->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)->ArgName("records");
    bench->Unit(benchmark::kMicrosecond);
}

// Runs body with the plain files of n records bound over the kernel files.
template <typename Body>
void on_plain_files(benchmark::State &state, lkpbench::Switching switching, Body body) {
    const int records = static_cast<int>(state.range(0));
    const lkpbench::PlainScene scene = lkpbench::arrange_plain(records, switching);
    const lkpbench::PlainKernelView view;
    if (!view.mounted()) {
        state.SkipWithError("cannot bind the plain kernel files");
        return;
    }
    body(scene, batch_for(records));
}

// The last package's state against one pass over both files.
void BM_State(benchmark::State &state) {
    on_plain_files(state, lkpbench::Switching::Alternating,
                   [&](const lkpbench::PlainScene &scene, int batch) {
                       const Call op = [&] {
                           const int rc = navo_lkp_state(scene.last_package.c_str());
                           return rc == STATE_ENABLED || rc == STATE_DISABLED;
                       };
                       run_pair(state, op, read_both_files, batch);
                   });
}
BENCHMARK(BM_State)->Apply(plain_records);

// Activating a package whose patches are all enabled: the check finds
// nothing to do. Against one pass over both files.
void BM_ActivateNoop(benchmark::State &state) {
    on_plain_files(
        state, lkpbench::Switching::AllEnabled, [&](const lkpbench::PlainScene &scene, int batch) {
            const Call op = [&] { return navo_lkp_activate(scene.last_package.c_str()) == 0; };
            run_pair(state, op, read_both_files, batch);
        });
}
BENCHMARK(BM_ActivateNoop)->Apply(plain_records);

// Deactivating a package whose patches are all disabled.
void BM_DeactivateNoop(benchmark::State &state) {
    on_plain_files(
        state, lkpbench::Switching::AllDisabled, [&](const lkpbench::PlainScene &scene, int batch) {
            const Call op = [&] { return navo_lkp_deactivate(scene.last_package.c_str()) == 0; };
            run_pair(state, op, read_both_files, batch);
        });
}
BENCHMARK(BM_DeactivateNoop)->Apply(plain_records);

// Which package last patched "ext4": against one reading of the control
// file and one stat per record.
void BM_OwnerQuery(benchmark::State &state) {
    on_plain_files(state, lkpbench::Switching::Alternating,
                   [&](const lkpbench::PlainScene &scene, int batch) {
                       char owner[64];
                       std::string floor_owner;
                       const Call op = [&] {
                           return navo_lkp_last_patch_for_module(lkpbench::COVERED_MODULE, owner,
                                                                 sizeof owner) == 0 &&
                                  scene.last_package == owner;
                       };
                       const Call floor = [&] {
                           return owner_floor(lkpbench::COVERED_MODULE, &floor_owner) &&
                                  floor_owner == scene.last_package;
                       };
                       run_pair(state, op, floor, batch);
                   });
}
BENCHMARK(BM_OwnerQuery)->Apply(plain_records);

// --- Load and remove on the simulated kernel side ----------------------------

void unit_counts(benchmark::internal::Benchmark *bench) {
    bench->Arg(1)->Arg(4)->Arg(16)->Arg(64)->ArgName("units")->Unit(benchmark::kMillisecond);
}

constexpr const char *REMOVED_PACKAGE = "bench_rm.tar.gz";

std::string removed_patch(int index) {
    return "bench_rm_fix_" + std::to_string(index);
}

// A loaded package of `units` patches, arranged directly on the kernel side.
void arrange_removable(int units) {
    lkpsim::reset();
    for (int i = 0; i < units; ++i) {
        lkpsim::insert_patch(removed_patch(i));
        lkpsim::register_patch(units, REMOVED_PACKAGE, removed_patch(i));
        lkpsim::set_patch_state(removed_patch(i), "disabled");
    }
    lkpsim::clear_history();
    (void)lkpsim::take_log();
}

// What a removal must do: each patch's module call and "rm" line, newest
// first.
bool remove_floor(int units) {
    for (int i = units - 1; i >= 0; --i) {
        const std::string patch = removed_patch(i);
        if (syscall(SYS_delete_module, patch.c_str(), REMOVAL_FLAGS) != 0) {
            return false;
        }
        FILE *control = std::fopen(CONTROL_FILE, "we");
        if (control == nullptr) {
            return false;
        }
        std::fprintf(control, "rm,%d,%s,%s", units, REMOVED_PACKAGE, patch.c_str());
        if (std::fclose(control) != 0) {
            return false;
        }
    }
    return true;
}

void BM_Remove(benchmark::State &state) {
    const int units = static_cast<int>(state.range(0));
    const Call op = [&] { return navo_lkp_remove(REMOVED_PACKAGE) == 0; };
    const Call floor = [&] { return remove_floor(units); };
    arrange_removable(units);
    const std::size_t op_heap = peak_heap(op);
    arrange_removable(units);
    const std::size_t floor_heap = peak_heap(floor);
    report_heap(state, op_heap, floor_heap);
    double op_cpu = 0;
    double floor_cpu = 0;
    double calls = 0;
    for (auto _ : state) {
        arrange_removable(units);
        if (!timed_batch(op, 1, &op_cpu)) {
            state.SkipWithError("navo_lkp_remove failed");
            break;
        }
        arrange_removable(units);
        if (!timed_batch(floor, 1, &floor_cpu)) {
            state.SkipWithError("the removal floor failed");
            break;
        }
        ++calls;
    }
    report_pair(state, op_cpu, floor_cpu, calls);
}
BENCHMARK(BM_Remove)->Apply(unit_counts);

// A package file of `units` units, built once in a scratch directory.
std::string package_of(int units) {
    static std::map<int, std::string> built;
    auto found = built.find(units);
    if (found != built.end()) {
        return found->second;
    }
    const std::string dir = lkpsim::scratch_root() + "/bench_floor_packages";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    const std::string name = "bench_load" + std::to_string(units) + ".tar.gz";
    const std::string prefix = "bench_load" + std::to_string(units) + "_fix_";
    const std::string path =
        lkpsim::build_package(lkpsim::simple_package(name, units, prefix), dir);
    return built.emplace(units, path).first->second;
}

// A load's wall time is mostly its child processes' and the kernel's: the
// library's own share is the calling thread's CPU time over the wall time.
void BM_Load(benchmark::State &state) {
    const int units = static_cast<int>(state.range(0));
    const std::string path = package_of(units);
    const std::string name = std::filesystem::path(path).filename().string();
    lkpsim::reset();
    const Call load = [&] { return navo_lkp_load(path.c_str()) == 0; };
    const Call remove = [&] { return navo_lkp_remove(name.c_str()) == 0; };
    const std::size_t heap = peak_heap(load);
    if (!remove()) {
        state.SkipWithError("cannot load and remove the package");
        return;
    }
    if (lkpbench::heap_meter_available()) {
        state.counters["op_heap_B"] = static_cast<double>(heap);
    }
    double cpu = 0;
    double elapsed = 0;
    double calls = 0;
    for (auto _ : state) {
        const double start = wall();
        if (!timed_batch(load, 1, &cpu)) {
            state.SkipWithError("navo_lkp_load failed");
            break;
        }
        elapsed += wall() - start;
        ++calls;
        state.PauseTiming();
        const bool removed = remove();
        (void)lkpsim::take_log();
        state.ResumeTiming();
        if (!removed) {
            state.SkipWithError("navo_lkp_remove failed");
            break;
        }
    }
    if (calls > 0 && elapsed > 0) {
        state.counters["op_us"] = cpu / calls * 1e6;
        state.counters["wall_us"] = elapsed / calls * 1e6;
        state.counters["share_pct"] = cpu / elapsed * 100;
    }
}
BENCHMARK(BM_Load)->Apply(unit_counts);

}  // namespace
