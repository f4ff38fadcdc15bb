// A small bounded reader of a kernel module image's ".modinfo" section: the
// "key=value" strings the module build records (name=, vermagic=, ...).
// Every offset and size is checked against the image; nothing is trusted.
#ifndef TESVAR_SYS_ELF_MODINFO_H
#define TESVAR_SYS_ELF_MODINFO_H

#include <cstddef>
#include <cstdint>

namespace tesvar {

struct ElfModinfo {
    bool is_elf = false;       // ELF magic, a known class and byte order
    bool relocatable = false;  // e_type ET_REL, as a kernel module is
    bool has_modinfo = false;  // a ".modinfo" section lies inside the image
    const char *modinfo = nullptr;
    size_t modinfo_size = 0;
};

// Reads the ELF header and section headers of image (32- or 64-bit, either
// byte order). Never reads outside [image, image + size).
ElfModinfo read_elf_modinfo(const unsigned char *image, size_t size);

// The value of the first "key=" entry of the section: true with *value and
// *length (the value ends at its NUL or at the section's end).
bool find_modinfo_value(const ElfModinfo &info, const char *key, const char **value,
                        size_t *length);

// A read-only mapping of the regular file at path (opened without blocking,
// close-on-exec, links not followed); not valid when it is not a regular
// file, is empty, or is larger than max_size.
class MappedModule {
public:
    MappedModule(const char *path, size_t max_size) noexcept;
    MappedModule(const MappedModule &) = delete;
    MappedModule &operator=(const MappedModule &) = delete;
    ~MappedModule();

    bool valid() const noexcept { return data_ != nullptr; }
    const unsigned char *data() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }

private:
    const unsigned char *data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace tesvar

#endif
