// The consistency check of the control file against the state file. The
// state file holds two head lines, at most one line per control record and
// at most one trailer line; the package's state is that of its last patch.
// The two files are opened one after the other, so a change in between can
// make one honest reading disagree: the library's own changes are kept out
// of that moment by the kernel-files lock, and a reading that disagrees all
// the same is retried; only the last one's reason is logged.
#include "kernel/consistency.h"

#include <cstdint>
#include <cstring>

#include "frame/bounded.h"
#include "frame/log.h"
#include "frame/result_codes.h"
#include "kernel/kernel_paths.h"
#include "kernel/line_reader.h"
#include "kernel/patch_list.h"
#include "kernel/record.h"
#include "sys/file_access.h"
#include "sys/kernel_files_lock.h"
#include "sys/owned.h"
#include "sys/wait_budget.h"

namespace tesvar {

namespace {

constexpr int READINGS = 3;

// Why one reading failed; logged only for the reading that is reported.
// Locked: another caller held the kernel-files lock past the wait bound
// (logged where it was met); not read again.
enum class Mismatch { None, Malloc, Head, Records, Tail, Locked };

void log_reason(Mismatch reason) {
    switch (reason) {
        case Mismatch::Malloc:
            lkp_log(LKP_ERR, "Failed to malloc.");
            break;
        case Mismatch::Head:
            lkp_log(LKP_ERR, "Failed to ignore the head diff.");
            break;
        case Mismatch::Records:
            lkp_log(LKP_ERR, "The record is different between %s and %s.", CONTROL_FILE,
                    STATE_FILE);
            break;
        case Mismatch::Tail:
            lkp_log(LKP_ERR, "Failed to ignore the tail diff.");
            break;
        case Mismatch::None:
        case Mismatch::Locked:
            break;
    }
}

// The package's patches in control-file order, each with whether its state
// line says "enabled"; a growable array, since the library does not throw.
class PackagePatches {
public:
    struct Patch {
        char name[NAME_SIZE];
        uint64_t hash;
        PatchWord word;
    };

    // Adds the patch named by a control line's field (cut as a record would
    // store it).
    bool add(const field_span &field) {
        if (size_ == capacity_ && !grow()) {
            return false;
        }
        Patch &patch = items_.get()[size_++];
        store_span(patch.name, NAME_SIZE, field);
        patch.hash = span_hash(field);
        patch.word = PatchWord::Other;
        return true;
    }
    // A state line's patch field and state word: every patch of that name
    // takes the word's verdict. The key only spares most comparisons.
    void note_state(const field_span &field, const field_span &word) {
        const uint64_t hash = span_hash(field);
        PatchWord verdict = PatchWord::Other;
        bool judged = false;
        for (size_t i = 0; i < size_; ++i) {
            Patch &patch = items_.get()[i];
            if (patch.hash == hash && field_is(field, NAME_SIZE, patch.name)) {
                if (!judged) {
                    verdict = field_is(word, STATE_SIZE, STATE_ENABLED)    ? PatchWord::Enabled
                              : field_is(word, STATE_SIZE, STATE_DISABLED) ? PatchWord::Disabled
                                                                           : PatchWord::Other;
                    judged = true;
                }
                patch.word = verdict;
            }
        }
    }
    // Appends a node for every patch, in order: false when one cannot be made.
    bool append_to(list_head *list) const {
        for (size_t i = 0; i < size_; ++i) {
            patch_node *node = create_patch_node(items_.get()[i].name);
            if (node == nullptr) {
                return false;
            }
            node->word = items_.get()[i].word;
            list_add_tail(&node->list, list);
        }
        return true;
    }
    EnabledCount count() const {
        EnabledCount result;
        result.patches = static_cast<int>(size_);
        for (size_t i = 0; i < size_; ++i) {
            result.enabled += items_.get()[i].word == PatchWord::Enabled ? 1 : 0;
        }
        return result;
    }

private:
    // A cheap key of the slot the field would fill: its length and its last
    // (up to) eight characters, where names of one package mostly differ.
    static uint64_t span_hash(const field_span &field) {
        size_t length = field.length < NAME_SIZE - 1 ? field.length : NAME_SIZE - 1;
        const void *blank = std::memchr(field.text, ' ', length);
        if (blank != nullptr) {
            length = static_cast<size_t>(static_cast<const char *>(blank) - field.text);
        }
        uint64_t tail = 0;
        if (length >= sizeof tail) {
            std::memcpy(&tail, field.text + length - sizeof tail, sizeof tail);
        } else {
            for (size_t i = 0; i < length; ++i) {
                tail = tail << 8U | static_cast<unsigned char>(field.text[i]);
            }
        }
        return tail * 0x9E3779B97F4A7C15ULL ^ length;
    }

    bool grow() {
        const size_t capacity = capacity_ == 0 ? 8 : capacity_ * 2;
        void *items = std::realloc(items_.get(), capacity * sizeof(Patch));
        if (items == nullptr) {
            return false;
        }
        (void)items_.release();
        items_.reset(static_cast<Patch *>(items));
        capacity_ = capacity;
        return true;
    }

    HeapPtr<Patch> items_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Reads past the state file's head lines.
Mismatch skip_state_head(LineReader &state_file) {
    for (int i = 0; i < STATE_HEAD_LINES; ++i) {
        if (state_file.next() == nullptr) {
            return Mismatch::Head;
        }
    }
    return Mismatch::None;
}

// Walks the whole control file: counts its records in *lines and remembers
// the patch of the package's last record (empty when it has none), and,
// when asked, every patch of the package. Fields are compared where they
// lie; only the package's own are copied.
Mismatch walk_control(LineReader &control_file, const char *pkg_name, char *last_patch,
                      int32_t *lines, PackagePatches *patches) {
    const field_name package(pkg_name, NAME_SIZE);
    record_spans fields{};
    int32_t count = 0;
    for (char *line = control_file.next(); line != nullptr; line = control_file.next()) {
        if (locate_fields(&fields, line, control_file.length(), RECORD_CONTROL) != LKP_OK) {
            return Mismatch::Records;
        }
        if (package.matches(fields.middle)) {
            store_span(last_patch, NAME_SIZE, fields.last);
            if (patches != nullptr && !patches->add(fields.last)) {
                return Mismatch::Malloc;
            }
        }
        ++count;
    }
    *lines = count;
    return Mismatch::None;
}

// Examines at most `lines` record lines of the state file; a further line is
// the trailer and is read but not parsed. The last matching line sets state.
int walk_state(LineReader &state_file, const char *last_patch, int32_t lines, char *state,
               PackagePatches *patches) {
    const field_name last(last_patch, NAME_SIZE);
    record_spans fields{};
    char *line = nullptr;
    for (int32_t examined = 0; (line = state_file.next()) != nullptr && examined < lines;
         ++examined) {
        if (locate_fields(&fields, line, state_file.length(), RECORD_STATE) != LKP_OK) {
            return LKP_INVALID_ARGUMENT;
        }
        if (last.matches(fields.middle)) {
            store_span(state, STATE_SIZE, fields.last);
        }
        if (patches != nullptr) {
            patches->note_state(fields.middle, fields.last);
        }
    }
    return LKP_OK;
}

// Nothing may follow the trailer line, nor the control file's last record.
Mismatch check_tails(LineReader &control_file, LineReader &state_file) {
    if (state_file.next() != nullptr || control_file.next() != nullptr) {
        return Mismatch::Tail;
    }
    return Mismatch::None;
}

Mismatch compare_records(FILE *control_stream, FILE *state_stream, const char *pkg_name,
                         char *state, PackagePatches *patches) {
    LineReader control_file(control_stream);
    LineReader state_file(state_stream);
    if (!control_file.allocated() || !state_file.allocated()) {
        return Mismatch::Malloc;
    }
    const Mismatch head = skip_state_head(state_file);
    if (head != Mismatch::None) {
        return head;
    }
    char last_patch[NAME_SIZE] = {};
    int32_t lines = 0;
    if (memcpy_s(state, STATE_SIZE, STATE_UNKNOWN, std::strlen(STATE_UNKNOWN) + 1) != 0) {
        return Mismatch::Records;
    }
    const Mismatch control = walk_control(control_file, pkg_name, last_patch, &lines, patches);
    if (control != Mismatch::None) {
        return control;
    }
    if (walk_state(state_file, last_patch, lines, state, patches) != LKP_OK) {
        return Mismatch::Records;
    }
    return check_tails(control_file, state_file);
}

// Opens a kernel file and reads its first block, which is when a kernel
// file's text is made: NULL (logged) when it cannot be opened. The path is
// one of the library's fixed kernel paths, so it is opened without being
// resolved first (the regular-file check is made on the descriptor).
FILE *open_kernel_file(const char *path) {
    FILE *stream = open_fixed_for_reading(path);
    if (stream == nullptr) {
        lkp_log(LKP_ERR, "Failed to open %s.", path);
        return nullptr;
    }
    const int first = std::getc(stream);
    if (first != EOF) {
        (void)std::ungetc(first, stream);
    }
    return stream;
}

// One reading of both files: -262 (logged) when one cannot be opened,
// otherwise 0 with *reason telling whether they agree. Both texts are taken
// under the lock, as close together as possible.
int read_once(const char *pkg_name, char *state, PackagePatches *patches, Mismatch *reason) {
    KernelFilesLock lock(KernelFilesLock::Mode::Shared);
    if (lock.timed_out()) {
        *reason = Mismatch::Locked;
        return LKP_OK;
    }
    const Stream control_file(open_kernel_file(CONTROL_FILE));
    if (!control_file) {
        return LKP_OPEN_FAILED;
    }
    // Declared second, so closed first on every path.
    const Stream state_file(open_kernel_file(STATE_FILE));
    if (!state_file) {
        return LKP_OPEN_FAILED;
    }
    lock.release();
    *reason = compare_records(control_file.get(), state_file.get(), pkg_name, state, patches);
    return LKP_OK;
}

}  // namespace

int check_record_available(const char *pkg_name, char *state, EnabledCount *enabled,
                           list_head *patch_list, bool *listed) {
    const CallBudget budget;
    Mismatch reason = Mismatch::None;
    const bool collect = enabled != nullptr || patch_list != nullptr;
    for (int reading = 0; reading < READINGS; ++reading) {
        PackagePatches patches;
        const int rc = read_once(pkg_name, state, collect ? &patches : nullptr, &reason);
        if (rc != LKP_OK) {
            return rc;
        }
        if (reason == Mismatch::Locked) {
            return LKP_INVALID_ARGUMENT;
        }
        if (reason == Mismatch::None) {
            if (enabled != nullptr) {
                *enabled = patches.count();
            }
            if (patch_list != nullptr) {
                *listed = patches.append_to(patch_list);
            }
            return LKP_OK;
        }
    }
    log_reason(reason);
    return LKP_INVALID_ARGUMENT;
}

}  // namespace tesvar
