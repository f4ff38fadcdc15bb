// The file a subcommand produces, written under a temporary name beside its
// final path and renamed into place only when complete, so that a failure
// never leaves a partial file behind.
#ifndef LKPCTL_OUTPUT_FILE_H
#define LKPCTL_OUTPUT_FILE_H

#include <string>

#include "step_result.h"
#include "sys/owned_fd.h"

namespace lkpctl {

class OutputFile {
public:
    explicit OutputFile(std::string final_path);
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile();  // removes the temporary file unless committed

    // Creates the temporary file, mode 0644.
    StepResult open();
    int fd() const { return fd_.get(); }
    // Closes the file and renames it to the final path.
    StepResult commit();

private:
    std::string final_path_;
    std::string temp_path_;
    tesvar::Fd fd_;
    bool committed_ = false;
};

}  // namespace lkpctl

#endif
