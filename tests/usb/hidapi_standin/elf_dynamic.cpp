#include "elf_dynamic.h"

#include <elf.h>
#include <link.h>

#include <cstring>

#include "file_contents.h"

namespace qs71::test {

namespace {

// The host's own ELF class: link.h's ElfW picks Elf32_ or Elf64_ types to match.
using Header = ElfW(Ehdr);
using Section = ElfW(Shdr);
using Symbol = ElfW(Sym);
using Dynamic = ElfW(Dyn);

class ElfImage {
 public:
  explicit ElfImage(std::vector<uint8_t> bytes) : bytes(std::move(bytes)) {}

  bool Valid() const {
    if (bytes.size() < sizeof(Header)) return false;
    const Header* header = At<Header>(0);
    return header != nullptr && std::memcmp(header->e_ident, ELFMAG, SELFMAG) == 0 &&
           header->e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) &&
           header->e_shentsize == sizeof(Section) &&
           Fits(header->e_shoff, header->e_shnum * sizeof(Section));
  }

  std::vector<const Section*> Sections() const {
    const Header* header = At<Header>(0);
    std::vector<const Section*> sections;
    for (unsigned i = 0; i < header->e_shnum; ++i) {
      sections.push_back(At<Section>(header->e_shoff + i * sizeof(Section)));
    }
    return sections;
  }

  const Section* Linked(const Section& section) const {
    const std::vector<const Section*> all = Sections();
    return section.sh_link < all.size() ? all[section.sh_link] : nullptr;
  }

  // A NUL-terminated name in a string table; empty when it runs off the table.
  std::string Text(const Section* table, size_t offset) const {
    if (table == nullptr || offset >= table->sh_size) return "";
    const char* start = reinterpret_cast<const char*>(bytes.data() + table->sh_offset + offset);
    return std::string(start, strnlen(start, table->sh_size - offset));
  }

  template <typename T>
  std::vector<const T*> Entries(const Section& section) const {
    std::vector<const T*> entries;
    if (!Fits(section.sh_offset, section.sh_size)) return entries;
    for (size_t at = 0; at + sizeof(T) <= section.sh_size; at += sizeof(T)) {
      entries.push_back(At<T>(section.sh_offset + at));
    }
    return entries;
  }

 private:
  bool Fits(size_t offset, size_t size) const {
    return offset <= bytes.size() && size <= bytes.size() - offset;
  }
  template <typename T>
  const T* At(size_t offset) const {
    return Fits(offset, sizeof(T)) ? reinterpret_cast<const T*>(bytes.data() + offset) : nullptr;
  }

  std::vector<uint8_t> bytes;
};

void ReadDynamicSection(const ElfImage& image, const Section& section, ElfDynamic& dynamic) {
  const Section* names = image.Linked(section);
  for (const Dynamic* entry : image.Entries<Dynamic>(section)) {
    const std::string text = image.Text(names, entry->d_un.d_val);
    if (entry->d_tag == DT_NEEDED) dynamic.needed.push_back(text);
    if (entry->d_tag == DT_RPATH) dynamic.rpath.push_back(text);
    if (entry->d_tag == DT_RUNPATH) dynamic.runpath.push_back(text);
  }
}

void ReadDynamicSymbols(const ElfImage& image, const Section& section, ElfDynamic& dynamic) {
  const Section* names = image.Linked(section);
  for (const Symbol* symbol : image.Entries<Symbol>(section)) {
    const std::string name = image.Text(names, symbol->st_name);
    if (symbol->st_shndx == SHN_UNDEF && !name.empty()) dynamic.undefined.insert(name);
  }
}

}  // namespace

bool ReadElfDynamic(const std::string& path, ElfDynamic& dynamic) {
  const ElfImage image(ReadFileBytes(path));
  if (!image.Valid()) return false;
  for (const Section* section : image.Sections()) {
    if (section->sh_type == SHT_DYNAMIC) ReadDynamicSection(image, *section, dynamic);
    if (section->sh_type == SHT_DYNSYM) ReadDynamicSymbols(image, *section, dynamic);
  }
  return true;
}

}  // namespace qs71::test
