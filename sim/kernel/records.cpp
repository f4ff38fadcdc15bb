// The patch manager's records and its judgement of op lines.
#include "records.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "history.h"
#include "kernel_state.h"
#include "module_table.h"
#include "names.h"

namespace lkpsim {

namespace {

struct OpLine {
    bool add = false;
    int num = 0;
    std::string_view pkg;
    std::string_view patch;
};

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        fields.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return fields;
        }
        start = end + 1;
    }
}

bool parse_op_line(std::string_view text, OpLine *op) {
    const std::vector<std::string_view> fields = split(text, ',');
    if (fields.size() != 4 || (fields[0] != "add" && fields[0] != "rm")) {
        return false;
    }
    op->add = fields[0] == "add";
    op->pkg = fields[2];
    op->patch = fields[3];
    return parse_decimal(fields[1], &op->num) && is_plain_name(op->pkg) && is_plain_name(op->patch);
}

std::size_t record_index(const Kernel &kernel, std::string_view pkg, std::string_view patch) {
    for (std::size_t i = 0; i < kernel.record_count.get(); ++i) {
        if (name_is(kernel.records[i].pkg, pkg) && name_is(kernel.records[i].patch, patch)) {
            return i;
        }
    }
    return kernel.record_count.get();
}

void remove_record(Kernel *kernel, std::size_t index) {
    std::memmove(&kernel->records[index], &kernel->records[index + 1],
                 (kernel->record_count.get() - index - 1) * sizeof(Record));
    kernel->record_count.add(-1);
}

int apply_op(Kernel *kernel, const OpLine &op) {
    if (op.add) {
        if (find_patch_record(kernel, op.patch) != nullptr) {
            return EINVAL;
        }
        return add_record(kernel, op.num, op.pkg, op.patch) ? 0 : ENOSPC;
    }
    const std::size_t index = record_index(*kernel, op.pkg, op.patch);
    if (index == kernel->record_count.get()) {
        return EINVAL;
    }
    remove_record(kernel, index);
    return 0;
}

int judge(Kernel *kernel, std::string_view line) {
    // An armed refusal names the line's word ("add", "rm"), its patch, or
    // none.
    const std::string_view text = without_newline(line);
    if (take_fault(&kernel->op_fault, text.substr(0, text.find(','))) ||
        take_fault(&kernel->op_fault, text.substr(text.rfind(',') + 1))) {
        return kernel->op_fault.error.get();
    }
    OpLine op;
    return parse_op_line(line, &op) ? apply_op(kernel, op) : EINVAL;
}

}  // namespace

bool add_record(Kernel *kernel, int num, std::string_view pkg, std::string_view patch) {
    if (kernel->record_count.get() >= MAX_RECORDS) {
        return false;
    }
    Record record{};
    record.num.set(num);
    if (!set_name(&record.pkg, pkg) || !set_name(&record.patch, patch) ||
        !set_name(&record.state, "disabled")) {
        return false;
    }
    // The state word follows the module when its insertion enabled it (an
    // "add" line or a scene's registration alike).
    const Module *module = find_module(kernel, patch);
    if (module != nullptr && is_upstream_enabled(*kernel, *module) &&
        !set_name(&record.state, "enabled")) {
        return false;
    }
    kernel->records[kernel->record_count.add(1)] = record;
    return true;
}

std::string record_line(const Record &record) {
    return std::to_string(record.num.get()) + "," + std::string(name_of(record.pkg)) + "," +
           std::string(name_of(record.patch));
}

Record *find_patch_record(Kernel *kernel, std::string_view patch) {
    for (std::size_t i = 0; i < kernel->record_count.get(); ++i) {
        if (name_is(kernel->records[i].patch, patch)) {
            return &kernel->records[i];
        }
    }
    return nullptr;
}

bool set_record_state(Kernel *kernel, std::string_view patch, std::string_view state) {
    bool found = false;
    for (std::size_t i = 0; i < kernel->record_count.get(); ++i) {
        if (name_is(kernel->records[i].patch, patch)) {
            found = set_name(&kernel->records[i].state, state) || found;
        }
    }
    return found;
}

int judge_op_text(Kernel *kernel, std::string_view text) {
    const std::string_view line = without_newline(text);
    const int error = judge(kernel, line);
    append_history(kernel, (error == 0 ? "op " : "op! ") + as_written(text));
    return error;
}

}  // namespace lkpsim
