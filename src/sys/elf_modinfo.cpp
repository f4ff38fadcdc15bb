// The bounded ELF reader: the header, the section header table, the section
// name string table, then the ".modinfo" section's bytes.
#include "sys/elf_modinfo.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "sys/owned.h"

namespace tesvar {
namespace {

constexpr char MODINFO_SECTION[] = ".modinfo";

// Reads unsigned integers of one byte order at checked offsets.
class ImageReader {
public:
    ImageReader(const unsigned char *image, size_t size, bool big_endian) noexcept
        : image_(image), size_(size), big_endian_(big_endian) {}

    // True when [offset, offset + length) lies inside the image.
    bool holds(uint64_t offset, uint64_t length) const noexcept {
        return offset <= size_ && length <= size_ - offset;
    }

    // width bytes at offset (1, 2, 4 or 8); false when outside.
    bool read(uint64_t offset, unsigned width, uint64_t *value) const noexcept {
        if (!holds(offset, width)) {
            return false;
        }
        uint64_t result = 0;
        for (unsigned i = 0; i < width; ++i) {
            const unsigned byte = big_endian_ ? i : width - 1 - i;
            result = (result << 8U) | image_[offset + byte];
        }
        *value = result;
        return true;
    }

    const unsigned char *at(uint64_t offset) const noexcept { return image_ + offset; }

private:
    const unsigned char *image_;
    size_t size_;
    bool big_endian_;
};

// Where the fields of the two ELF classes lie.
struct ElfLayout {
    unsigned address_width;  // 4 or 8
    uint64_t type_offset;
    uint64_t shoff_offset;
    uint64_t shentsize_offset;
    uint64_t shnum_offset;
    uint64_t shstrndx_offset;
    uint64_t section_name_offset;  // within a section header
    uint64_t section_offset_offset;
    uint64_t section_size_offset;
    uint64_t section_header_size;
};

constexpr ElfLayout ELF32{4, 16, 32, 46, 48, 50, 0, 16, 20, sizeof(Elf32_Shdr)};
constexpr ElfLayout ELF64{8, 16, 40, 58, 60, 62, 0, 24, 32, sizeof(Elf64_Shdr)};

struct Section {
    uint64_t name = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
};

class ElfImage {
public:
    ElfImage(const ImageReader &reader, const ElfLayout &layout) noexcept
        : reader_(reader), layout_(layout) {}

    bool read_table() noexcept {
        uint64_t entry_size = 0;
        uint64_t strtab_index = 0;
        if (!reader_.read(layout_.shoff_offset, layout_.address_width, &table_) ||
            !reader_.read(layout_.shentsize_offset, 2, &entry_size) ||
            !reader_.read(layout_.shnum_offset, 2, &count_) ||
            !reader_.read(layout_.shstrndx_offset, 2, &strtab_index)) {
            return false;
        }
        // A table with another entry size, or reaching outside, is not read.
        if (entry_size != layout_.section_header_size || count_ == 0 ||
            !reader_.holds(table_, count_ * entry_size)) {
            return false;
        }
        return strtab_index < count_ && section(strtab_index, &names_) &&
               reader_.holds(names_.offset, names_.size);
    }

    // The first section called name whose bytes lie inside the image.
    bool find(const char *name, Section *found) const noexcept {
        const size_t name_length = std::strlen(name);
        for (uint64_t index = 0; index < count_; ++index) {
            Section candidate;
            if (section(index, &candidate) && is_named(candidate, name, name_length) &&
                reader_.holds(candidate.offset, candidate.size)) {
                *found = candidate;
                return true;
            }
        }
        return false;
    }

private:
    bool section(uint64_t index, Section *out) const noexcept {
        const uint64_t header = table_ + index * layout_.section_header_size;
        return reader_.read(header + layout_.section_name_offset, 4, &out->name) &&
               reader_.read(header + layout_.section_offset_offset, layout_.address_width,
                            &out->offset) &&
               reader_.read(header + layout_.section_size_offset, layout_.address_width,
                            &out->size);
    }

    // The name at candidate.name in the string table, NUL included, equals name.
    bool is_named(const Section &candidate, const char *name, size_t length) const noexcept {
        if (candidate.name >= names_.size || names_.size - candidate.name < length + 1) {
            return false;
        }
        const unsigned char *text = reader_.at(names_.offset + candidate.name);
        return std::memcmp(text, name, length) == 0 && text[length] == '\0';
    }

    const ImageReader &reader_;
    const ElfLayout &layout_;
    uint64_t table_ = 0;
    uint64_t count_ = 0;
    Section names_;
};

}  // namespace

ElfModinfo read_elf_modinfo(const unsigned char *image, size_t size) {
    ElfModinfo info;
    if (image == nullptr || size < EI_NIDENT || std::memcmp(image, ELFMAG, SELFMAG) != 0) {
        return info;
    }
    const unsigned char elf_class = image[EI_CLASS];
    const unsigned char order = image[EI_DATA];
    if ((elf_class != ELFCLASS32 && elf_class != ELFCLASS64) ||
        (order != ELFDATA2LSB && order != ELFDATA2MSB)) {
        return info;
    }
    info.is_elf = true;
    const ImageReader reader(image, size, order == ELFDATA2MSB);
    const ElfLayout &layout = elf_class == ELFCLASS32 ? ELF32 : ELF64;
    uint64_t type = 0;
    info.relocatable = reader.read(layout.type_offset, 2, &type) && type == ET_REL;
    ElfImage elf(reader, layout);
    Section modinfo;
    if (elf.read_table() && elf.find(MODINFO_SECTION, &modinfo)) {
        info.has_modinfo = true;
        info.modinfo = reinterpret_cast<const char *>(reader.at(modinfo.offset));
        info.modinfo_size = static_cast<size_t>(modinfo.size);
    }
    return info;
}

bool find_modinfo_value(const ElfModinfo &info, const char *key, const char **value,
                        size_t *length) {
    if (!info.has_modinfo || key == nullptr) {
        return false;
    }
    const size_t key_length = std::strlen(key);
    const char *entry = info.modinfo;
    const char *end = info.modinfo + info.modinfo_size;
    while (entry < end) {
        const auto *nul = static_cast<const char *>(std::memchr(entry, '\0', end - entry));
        const char *entry_end = nul != nullptr ? nul : end;
        const auto entry_length = static_cast<size_t>(entry_end - entry);
        if (entry_length > key_length && std::memcmp(entry, key, key_length) == 0 &&
            entry[key_length] == '=') {
            *value = entry + key_length + 1;
            *length = entry_length - key_length - 1;
            return true;
        }
        entry = entry_end + 1;
    }
    return false;
}

MappedModule::MappedModule(const char *path, size_t max_size) noexcept {
    Fd file(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
    struct stat status {};
    if (!file.valid() || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size <= 0 || static_cast<uint64_t>(status.st_size) > max_size) {
        return;
    }
    const auto length = static_cast<size_t>(status.st_size);
    void *address = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.get(), 0);
    if (address != MAP_FAILED) {
        data_ = static_cast<const unsigned char *>(address);
        size_ = length;
    }
}

MappedModule::~MappedModule() {
    if (data_ != nullptr) {
        munmap(const_cast<unsigned char *>(data_), size_);
    }
}

}  // namespace tesvar
