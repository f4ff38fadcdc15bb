// Module images: writes minimal ELF relocatable objects and reads them back
// with the checks the kernel's module loader makes before trusting an image.
#include "lkpsim/module_image.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <utility>

namespace lkpsim {
namespace {

// ELF constants used here (kept local: <elf.h> is not needed for so few).
constexpr unsigned char kMagic[4] = {0x7f, 'E', 'L', 'F'};
constexpr std::size_t kIdentSize = 16;
constexpr unsigned kClass32 = 1;
constexpr unsigned kClass64 = 2;
constexpr unsigned kDataLittle = 1;
constexpr unsigned kDataBig = 2;
constexpr unsigned kTypeRel = 1;
constexpr unsigned kSectionProgbits = 1;
constexpr unsigned kSectionStrtab = 3;
constexpr unsigned kSectionNobits = 8;
constexpr unsigned kFlagWrite = 1;
constexpr unsigned kFlagAlloc = 2;
constexpr unsigned kMachine386 = 3;
constexpr unsigned kMachinePpc = 20;
constexpr unsigned kMachinePpc64 = 21;
constexpr unsigned kMachineX86_64 = 62;

constexpr char kModinfo[] = ".modinfo";
constexpr char kThisModule[] = ".gnu.linkonce.this_module";
constexpr char kShstrtab[] = ".shstrtab";

// Sizes that differ between the two classes.
struct Layout {
    bool is64;
    std::size_t header;          // e_ehsize
    std::size_t section_header;  // e_shentsize
    std::size_t word;            // address width and alignment
    std::size_t name_offset;     // name in struct module
    std::size_t name_field;      // its size: 64 bytes less one word (MODULE_NAME_LEN)
};

Layout layout_for(bool is64) {
    if (is64) {
        return {true, 64, 64, 8, 24, 56};
    }
    return {false, 52, 40, 4, 12, 60};
}

// ---------------------------------------------------------------- writing

// Appends integers in the image's byte order.
class Writer {
public:
    Writer(std::vector<unsigned char> *out, bool big_endian) : out_(out), big_(big_endian) {}

    void put(std::uint64_t value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t shift = big_ ? (width - 1 - i) * 8 : i * 8;
            out_->push_back(static_cast<unsigned char>((value >> shift) & 0xffU));
        }
    }
    void bytes(const std::vector<unsigned char> &data) {
        out_->insert(out_->end(), data.begin(), data.end());
    }
    void pad_to(std::size_t alignment) {
        while (out_->size() % alignment != 0) {
            out_->push_back(0);
        }
    }
    std::size_t size() const { return out_->size(); }

private:
    std::vector<unsigned char> *out_;
    bool big_;
};

// One section as written: its header fields and its bytes.
struct Section {
    std::uint32_t name = 0;  // offset in .shstrtab
    std::uint32_t type = 0;
    std::uint64_t flags = 0;
    std::uint64_t align = 1;
    std::vector<unsigned char> data;
    std::uint64_t offset = 0;  // set while laying out
};

void append_text(std::vector<unsigned char> *out, const std::string &text) {
    out->insert(out->end(), text.begin(), text.end());
    out->push_back(0);
}

std::vector<unsigned char> modinfo_bytes(const ModuleSpec &spec) {
    std::vector<unsigned char> out;
    append_text(&out, "license=GPL");
    if (!spec.name_in_this_module) {
        append_text(&out, "name=" + spec.name);
    }
    if (spec.livepatch) {
        append_text(&out, "livepatch=Y");
    }
    if (!spec.vermagic.empty()) {
        append_text(&out, "vermagic=" + spec.vermagic);
    }
    for (const std::string &target : spec.targets) {
        append_text(&out, "lkp_target=" + target);
    }
    return out;
}

// The module structure: only its name field is filled; a longer name is cut
// so that the field stays NUL-terminated, as the build would.
std::vector<unsigned char> this_module_bytes(const ModuleSpec &spec, const Layout &layout) {
    const std::size_t field = layout.name_field;
    std::vector<unsigned char> out(layout.name_offset + field, 0);
    const std::size_t length = spec.name.size() < field ? spec.name.size() : field - 1;
    std::memcpy(out.data() + layout.name_offset, spec.name.data(), length);
    return out;
}

std::uint16_t machine_for(const ModuleSpec &spec) {
    if (spec.big_endian) {
        return spec.elf_class == 32 ? kMachinePpc : kMachinePpc64;
    }
    return spec.elf_class == 32 ? kMachine386 : kMachineX86_64;
}

// Appends a section and registers its name in the name table.
void add_section(std::vector<Section> *sections, std::vector<unsigned char> *names,
                 const char *name, std::uint32_t type, std::uint64_t flags, std::uint64_t align,
                 std::vector<unsigned char> data) {
    Section section;
    section.name = static_cast<std::uint32_t>(names->size());
    section.type = type;
    section.flags = flags;
    section.align = align;
    section.data = std::move(data);
    sections->push_back(std::move(section));
    append_text(names, name);
}

// Null section first, .shstrtab last (it holds its own name too).
std::vector<Section> sections_for(const ModuleSpec &spec, const Layout &layout) {
    std::vector<Section> sections(1);
    std::vector<unsigned char> names(1, 0);
    add_section(&sections, &names, kModinfo, kSectionProgbits, kFlagAlloc, 1, modinfo_bytes(spec));
    if (spec.name_in_this_module) {
        add_section(&sections, &names, kThisModule, kSectionProgbits, kFlagAlloc | kFlagWrite,
                    layout.word, this_module_bytes(spec, layout));
    }
    add_section(&sections, &names, kShstrtab, kSectionStrtab, 0, 1, {});
    sections.back().data = std::move(names);
    return sections;
}

void write_header(Writer *w, const ModuleSpec &spec, const Layout &layout, std::uint64_t shoff,
                  std::size_t shnum) {
    std::vector<unsigned char> ident(kIdentSize, 0);
    std::memcpy(ident.data(), kMagic, sizeof kMagic);
    ident[4] = static_cast<unsigned char>(layout.is64 ? kClass64 : kClass32);
    ident[5] = static_cast<unsigned char>(spec.big_endian ? kDataBig : kDataLittle);
    ident[6] = 1;  // EV_CURRENT
    w->bytes(ident);
    w->put(kTypeRel, 2);
    w->put(machine_for(spec), 2);
    w->put(1, 4);                // e_version
    w->put(0, layout.word);      // e_entry
    w->put(0, layout.word);      // e_phoff
    w->put(shoff, layout.word);  // e_shoff
    w->put(0, 4);                // e_flags
    w->put(layout.header, 2);    // e_ehsize
    w->put(0, 2);                // e_phentsize
    w->put(0, 2);                // e_phnum
    w->put(layout.section_header, 2);
    w->put(shnum, 2);
    w->put(shnum - 1, 2);  // e_shstrndx: .shstrtab is last
}

void write_section_header(Writer *w, const Section &s, const Layout &layout) {
    w->put(s.name, 4);
    w->put(s.type, 4);
    w->put(s.flags, layout.word);
    w->put(0, layout.word);  // sh_addr
    w->put(s.offset, layout.word);
    w->put(s.data.size(), layout.word);
    w->put(0, 4);  // sh_link
    w->put(0, 4);  // sh_info
    w->put(s.type == 0 ? 0 : s.align, layout.word);
    w->put(0, layout.word);  // sh_entsize
}

// ---------------------------------------------------------------- reading

// Bounds-checked view of an image in its byte order; every read either
// stays inside the buffer or fails.
class Reader {
public:
    Reader(const unsigned char *data, std::size_t length) : data_(data), length_(length) {}

    void set_big_endian(bool big) { big_ = big; }
    const unsigned char *at(std::size_t offset) const { return data_ + offset; }

    bool contains(std::uint64_t offset, std::uint64_t size) const {
        return offset <= length_ && size <= length_ - offset;
    }
    bool get(std::uint64_t offset, std::size_t width, std::uint64_t *value) const {
        if (!contains(offset, width)) {
            return false;
        }
        std::uint64_t result = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t index = big_ ? i : width - 1 - i;
            result = (result << 8) | data_[offset + index];
        }
        *value = result;
        return true;
    }

private:
    const unsigned char *data_;
    std::size_t length_;
    bool big_ = false;
};

// The fields of the ELF header that the loader uses.
struct Header {
    Layout layout = layout_for(true);
    std::uint64_t shoff = 0;
    std::uint64_t shnum = 0;
    std::uint64_t shstrndx = 0;
};

// The fields of a section header that the loader uses.
struct SectionView {
    std::uint64_t name = 0;
    std::uint64_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

bool read_ident(Reader *r, Layout *layout) {
    if (!r->contains(0, kIdentSize) || std::memcmp(r->at(0), kMagic, sizeof kMagic) != 0) {
        return false;
    }
    const unsigned char elf_class = *r->at(4);
    const unsigned char data = *r->at(5);
    if ((elf_class != kClass32 && elf_class != kClass64) ||
        (data != kDataLittle && data != kDataBig) || *r->at(6) != 1) {
        return false;
    }
    r->set_big_endian(data == kDataBig);
    *layout = layout_for(elf_class == kClass64);
    return true;
}

bool read_header(Reader *r, Header *h) {
    if (!read_ident(r, &h->layout) || !r->contains(0, h->layout.header)) {
        return false;
    }
    const std::size_t word = h->layout.word;
    const std::size_t after_addresses = 24 + 3 * word;  // e_entry, e_phoff, e_shoff
    std::uint64_t type = 0;
    std::uint64_t shentsize = 0;
    if (!r->get(16, 2, &type) || !r->get(24 + 2 * word, word, &h->shoff) ||
        !r->get(after_addresses + 10, 2, &shentsize) ||
        !r->get(after_addresses + 12, 2, &h->shnum) ||
        !r->get(after_addresses + 14, 2, &h->shstrndx)) {
        return false;
    }
    if (type != kTypeRel || shentsize != h->layout.section_header || h->shnum == 0 ||
        h->shstrndx == 0 || h->shstrndx >= h->shnum) {
        return false;
    }
    return r->contains(h->shoff, h->shnum * shentsize);
}

// Reads section `index` and checks that its bytes lie inside the image.
bool read_section(const Reader &r, const Header &h, std::uint64_t index, SectionView *s) {
    const std::size_t word = h.layout.word;
    const std::uint64_t base = h.shoff + index * h.layout.section_header;
    if (!r.get(base, 4, &s->name) || !r.get(base + 4, 4, &s->type) ||
        !r.get(base + 8 + 2 * word, word, &s->offset) ||
        !r.get(base + 8 + 3 * word, word, &s->size)) {
        return false;
    }
    if (s->type == kSectionNobits) {
        s->size = 0;  // no bytes in the file
        return true;
    }
    return r.contains(s->offset, s->size);
}

// Sections located by name; size 0 when absent.
struct Found {
    SectionView modinfo;
    SectionView this_module;
};

bool find_sections(const Reader &r, const Header &h, Found *found) {
    SectionView names;
    if (!read_section(r, h, h.shstrndx, &names) || names.size == 0 ||
        *r.at(names.offset + names.size - 1) != 0) {
        return false;  // the name table must end in a NUL
    }
    for (std::uint64_t i = 1; i < h.shnum; ++i) {
        SectionView s;
        if (!read_section(r, h, i, &s) || s.name >= names.size) {
            return false;
        }
        const char *name = reinterpret_cast<const char *>(r.at(names.offset + s.name));
        if (std::strcmp(name, kModinfo) == 0 && found->modinfo.size == 0) {
            found->modinfo = s;
        } else if (std::strcmp(name, kThisModule) == 0 && found->this_module.size == 0) {
            found->this_module = s;
        }
    }
    return true;
}

bool starts_with(const std::string &text, const char *prefix, std::string *rest) {
    const std::size_t length = std::strlen(prefix);
    if (text.compare(0, length, prefix) != 0) {
        return false;
    }
    *rest = text.substr(length);
    return true;
}

// Walks the NUL-separated entries; the section's end also ends an entry. The
// first "name=" entry counts, even an empty one.
void read_modinfo(const Reader &r, const SectionView &s, ModuleInfo *info) {
    const char *begin = reinterpret_cast<const char *>(r.at(s.offset));
    const char *end = begin + s.size;
    bool named = false;
    for (const char *p = begin; p < end;) {
        const void *nul = std::memchr(p, 0, static_cast<std::size_t>(end - p));
        const char *stop = nul != nullptr ? static_cast<const char *>(nul) : end;
        const std::string entry(p, stop);
        std::string value;
        if (!named && starts_with(entry, "name=", &value)) {
            info->name = value;
            named = true;
        } else if (starts_with(entry, "lkp_target=", &value)) {
            info->targets.push_back(value);
        } else if (starts_with(entry, "livepatch=", &value)) {
            info->livepatch = true;
        }
        p = stop + 1;
    }
}

// The name field of the module structure; "" when the section is too short
// for it or the field does not hold its NUL.
std::string this_module_name(const Reader &r, const Header &h, const SectionView &s) {
    if (s.size < h.layout.name_offset + h.layout.name_field) {
        return "";
    }
    const unsigned char *field = r.at(s.offset + h.layout.name_offset);
    const void *nul = std::memchr(field, 0, h.layout.name_field);
    if (nul == nullptr) {
        return "";
    }
    const auto length = static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - field);
    return {reinterpret_cast<const char *>(field), length};
}

}  // namespace

std::vector<unsigned char> make_module_image(const ModuleSpec &spec) {
    const Layout layout = layout_for(spec.elf_class != 32);
    std::vector<Section> sections = sections_for(spec, layout);
    std::vector<unsigned char> body;
    Writer w(&body, spec.big_endian);
    w.bytes(std::vector<unsigned char>(layout.header, 0));  // header written last
    for (Section &section : sections) {
        if (section.type == 0) {
            continue;
        }
        w.pad_to(section.align);
        section.offset = w.size();
        w.bytes(section.data);
    }
    w.pad_to(layout.word);
    const std::uint64_t shoff = w.size();
    for (const Section &section : sections) {
        write_section_header(&w, section, layout);
    }
    std::vector<unsigned char> header;
    Writer hw(&header, spec.big_endian);
    write_header(&hw, spec, layout, shoff, sections.size());
    std::copy(header.begin(), header.end(), body.begin());
    return body;
}

bool write_module_file(const std::string &path, const ModuleSpec &spec) {
    const std::vector<unsigned char> image = make_module_image(spec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(image.data()),
              static_cast<std::streamsize>(image.size()));
    out.close();
    return !out.fail();
}

bool read_module_image(const void *image, std::size_t length, ModuleInfo *info) {
    if (image == nullptr || info == nullptr) {
        return false;
    }
    Reader r(static_cast<const unsigned char *>(image), length);
    Header h;
    Found found;
    if (!read_header(&r, &h) || !find_sections(r, h, &found)) {
        return false;
    }
    ModuleInfo result;
    read_modinfo(r, found.modinfo, &result);
    if (result.name.empty()) {
        result.name = this_module_name(r, h, found.this_module);
    }
    if (result.name.empty()) {
        return false;
    }
    *info = std::move(result);
    return true;
}

}  // namespace lkpsim
