// libFuzzer target: the bounded ELF reader of a module's ".modinfo". Every
// value it returns must lie inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "sys/elf_modinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const tesvar::ElfModinfo info = tesvar::read_elf_modinfo(data, size);
    if (info.has_modinfo &&
        (info.modinfo < reinterpret_cast<const char *>(data) ||
         info.modinfo + info.modinfo_size > reinterpret_cast<const char *>(data) + size)) {
        std::abort();
    }
    for (const char *key : {"name", "vermagic", "livepatch"}) {
        const char *value = nullptr;
        size_t length = 0;
        if (tesvar::find_modinfo_value(info, key, &value, &length) &&
            (value < reinterpret_cast<const char *>(data) ||
             value + length > reinterpret_cast<const char *>(data) + size)) {
            std::abort();
        }
    }
    return 0;
}
