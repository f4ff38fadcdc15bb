// The kernel side's record files, read through the library's own record
// parser: the patch manager's control file and the live-patching state file.
#ifndef LKPCTL_RECORD_FILES_H
#define LKPCTL_RECORD_FILES_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lkpctl {

// One control-file record: a registered patch and the package it belongs to.
struct ControlRecord {
    std::string package;
    std::string patch;
    int32_t units = 0;  // the first field: the package's unit count, as its load wrote it
};

// Every control-file record, in file order. 0 or a result code.
int32_t read_control_records(std::vector<ControlRecord> *records);

// The state words of the state file's first record_count record lines, by
// patch name; a later line for the same patch wins, as in the library's own
// consistency check. 0 or a result code.
int32_t read_state_words(size_t record_count, std::map<std::string, std::string> *words);

// The state word of every line of the state file after its head that reads
// as a state record (the trailer does not), by patch name, whatever the
// number of records; none when it cannot be opened.
std::map<std::string, std::string> read_state_lines();

}  // namespace lkpctl

#endif
