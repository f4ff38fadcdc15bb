// Kernel module images for the simulated kernel side: small real ELF
// relocatable objects carrying their name (and the modules they patch) in a
// ".modinfo" section, or their name in ".gnu.linkonce.this_module".
#ifndef LKPSIM_MODULE_IMAGE_H
#define LKPSIM_MODULE_IMAGE_H

#include <cstddef>
#include <string>
#include <vector>

namespace lkpsim {

struct ModuleSpec {
    // The module name the kernel will see.
    std::string name;
    // Modules this patch patches ("lkp_target=" entries).
    std::vector<std::string> targets{"vmlinux"};
    bool livepatch = true;             // "livepatch=Y" entry
    int elf_class = 64;                // 32 or 64
    bool big_endian = false;           // true: as on 32-bit PowerPC
    bool name_in_this_module = false;  // name in .gnu.linkonce.this_module, not .modinfo;
                                       // cut to 55 bytes, the size of its field
    std::string vermagic;              // "vermagic=" entry, e.g. "6.1.0 SMP mod_unload"; "": none
};

// The bytes of a module image.
std::vector<unsigned char> make_module_image(const ModuleSpec &spec);
// Writes the image to path; false on failure.
bool write_module_file(const std::string &path, const ModuleSpec &spec);

// What the kernel reads from an image.
struct ModuleInfo {
    std::string name;
    std::vector<std::string> targets;
    bool livepatch = false;
};
// Reads name and targets the way the kernel does; false for a bad image
// (not ELF, truncated, no name).
bool read_module_image(const void *image, std::size_t length, ModuleInfo *info);

}  // namespace lkpsim

#endif
