// Reading the record files line by line with the library's parser.
#include "record_files.h"

#include <cstring>

#include "frame/result_codes.h"
#include "kernel/kernel_paths.h"
#include "kernel/line_buffer.h"
#include "kernel/record.h"
#include "sys/file_access.h"
#include "sys/owned.h"

namespace lkpctl {
namespace {

// A kernel file opened for reading with the library's open_file, and the
// buffer of its current line.
class KernelFile {
public:
    explicit KernelFile(const char *path) : stream_(tesvar::open_file("r", "%s", path)) {}

    explicit operator bool() const { return static_cast<bool>(stream_); }
    // The next line, newline included, in a buffer parse_record may cut; or nullptr at the end.
    char *next_line() { return line_.read(stream_.get()) >= 0 ? line_.data() : nullptr; }

private:
    tesvar::Stream stream_;
    tesvar::LineBuffer line_;
};

std::string field(const char *slot, size_t capacity) {
    return std::string(slot, strnlen(slot, capacity));
}

}  // namespace

int32_t read_control_records(std::vector<ControlRecord> *records) {
    KernelFile file(tesvar::CONTROL_FILE);
    if (!file) {
        return tesvar::LKP_OPEN_FAILED;
    }
    for (char *line = file.next_line(); line != nullptr; line = file.next_line()) {
        tesvar::patch_record record{};
        if (tesvar::parse_record(&record, line, tesvar::RECORD_CONTROL) != 0) {
            return tesvar::LKP_INVALID_ARGUMENT;
        }
        records->push_back({field(record.pkg_name, tesvar::NAME_SIZE),
                            field(record.patch_name, tesvar::NAME_SIZE), record.num});
    }
    return tesvar::LKP_OK;
}

int32_t read_state_words(size_t record_count, std::map<std::string, std::string> *words) {
    KernelFile file(tesvar::STATE_FILE);
    if (!file) {
        return tesvar::LKP_OPEN_FAILED;
    }
    for (int head = 0; head < tesvar::STATE_HEAD_LINES; ++head) {
        if (file.next_line() == nullptr) {
            return tesvar::LKP_INVALID_ARGUMENT;
        }
    }
    // Lines past the first record_count are the trailer: never parsed.
    char *line = nullptr;
    for (size_t examined = 0; examined < record_count && (line = file.next_line()) != nullptr;
         ++examined) {
        tesvar::patch_record record{};
        if (tesvar::parse_record(&record, line, tesvar::RECORD_STATE) != 0) {
            return tesvar::LKP_INVALID_ARGUMENT;
        }
        (*words)[field(record.patch_name, tesvar::NAME_SIZE)] =
            field(record.state(), tesvar::STATE_SIZE);
    }
    return tesvar::LKP_OK;
}

std::map<std::string, std::string> read_state_lines() {
    std::map<std::string, std::string> words;
    KernelFile file(tesvar::STATE_FILE);
    if (!file) {
        return words;
    }
    for (int head = 0; head < tesvar::STATE_HEAD_LINES; ++head) {
        if (file.next_line() == nullptr) {
            return words;
        }
    }
    for (char *line = file.next_line(); line != nullptr; line = file.next_line()) {
        tesvar::patch_record record{};
        if (tesvar::parse_record(&record, line, tesvar::RECORD_STATE) == 0) {
            words[field(record.patch_name, tesvar::NAME_SIZE)] =
                field(record.state(), tesvar::STATE_SIZE);
        }
    }
    return words;
}

}  // namespace lkpctl
