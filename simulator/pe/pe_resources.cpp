// The resource directory of an executable image: a tree of tables three
// levels deep (type, name, language) whose leaves describe the data.
#include <set>

#include "simulator/pe/pe_image.h"
#include "simulator/support/hex.h"

namespace sim {
namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kEntrySize = 8;
constexpr int kLanguageLevel = 2;
const char* const kLevelNames[] = {"type", "name", "language"};

using Step = Result<void>;

class TreeReader {
  public:
    TreeReader(std::span<const std::uint8_t> section, std::uint32_t section_rva, Reader root)
        : section_(section), section_rva_(section_rva), root_(root) {}

    // The table at `at` (from the root) on `level`; `path` holds the ids of
    // the levels above.
    Step table(std::uint32_t at, int level, const ResourceEntry& path);
    std::vector<ResourceEntry> take() { return std::move(out_); }

  private:
    Reader at(std::uint32_t offset, const char* what) const {
        Reader r = root_;
        r.seek(offset, what);
        return r;
    }
    Result<ResId> entry_id(std::uint32_t name, int level, std::size_t entry_at) const;
    Step entry(Reader& entries, int level, const ResourceEntry& path);
    Step data(std::uint32_t at, ResourceEntry entry);

    std::span<const std::uint8_t> section_;
    std::uint32_t section_rva_ = 0;
    Reader root_;  // the section from the root on: the tree's offsets count from there
    std::set<std::uint32_t> visited_;
    std::uint64_t data_total_ = 0;
    std::vector<ResourceEntry> out_;
};

Step TreeReader::table(std::uint32_t offset, int level, const ResourceEntry& path) {
    Reader t = at(offset, "resource table");
    if (!visited_.insert(offset).second) {
        return Error::at_byte(t.offset(),
                              "resource table reached twice (a loop, or a shared table)");
    }
    t.skip(12, "resource table header");
    const std::size_t named = t.u16("resource table header");
    const std::size_t ids = t.u16("resource table header");
    Reader entries = t.sub(t.pos(), (named + ids) * kEntrySize, "resource table entries");
    if (entries.failed()) {
        return *entries.error();
    }
    for (std::size_t i = 0; i < named + ids; ++i) {
        if (auto read = entry(entries, level, path); !read.ok()) {
            return read;
        }
    }
    return {};
}

Result<ResId> TreeReader::entry_id(std::uint32_t name, int level, std::size_t entry_at) const {
    const std::string what = std::string("resource ") + kLevelNames[level];
    if ((name & kHighBit) == 0) {
        if (name > 0xFFFF) {
            return Error::at_byte(entry_at,
                                  what + " id " + std::to_string(name) + " exceeds 16 bits");
        }
        return ResId::number(static_cast<std::uint16_t>(name));
    }
    if (level == kLanguageLevel) {
        return Error::at_byte(entry_at, "a resource language must be a number, not a name");
    }
    Reader s = at(name & ~kHighBit, "resource name string");
    const std::uint16_t length = s.u16("resource name string");
    std::u16string text = s.utf16(length, "resource name string");
    if (s.failed()) {
        return *s.error();
    }
    if (text.empty()) {
        return Error::at_byte(entry_at, what + " has an empty name");
    }
    return ResId::text(std::move(text));
}

Step TreeReader::entry(Reader& entries, int level, const ResourceEntry& path) {
    const std::size_t entry_at = entries.offset();
    const std::uint32_t name = entries.u32("resource table entry");
    const std::uint32_t target = entries.u32("resource table entry");
    auto id = entry_id(name, level, entry_at);
    if (!id.ok()) {
        return id.error();
    }
    ResourceEntry next = path;
    const bool to_table = (target & kHighBit) != 0;
    if (level == kLanguageLevel) {
        if (to_table) {
            return Error::at_byte(entry_at,
                                  "a resource language entry points at a table, not data");
        }
        next.language = *id.value().ordinal;
        return data(target, std::move(next));
    }
    if (!to_table) {
        return Error::at_byte(entry_at, std::string("a resource ") + kLevelNames[level] +
                                            " entry points at data, not at a table");
    }
    (level == 0 ? next.type : next.name) = std::move(id.value());
    return table(target & ~kHighBit, level + 1, next);
}

Step TreeReader::data(std::uint32_t offset, ResourceEntry entry) {
    Reader d = at(offset, "resource data entry");
    const std::size_t entry_at = d.offset();
    const std::uint32_t rva = d.u32("resource data entry");
    const std::uint32_t size = d.u32("resource data entry");
    d.skip(8, "resource data entry");
    if (d.failed()) {
        return *d.error();
    }
    if (rva < section_rva_ || std::uint64_t{rva - section_rva_} + size > section_.size()) {
        return Error::at_byte(entry_at, "resource data (RVA " + hex(rva) + ", " +
                                            std::to_string(size) +
                                            " bytes) lies outside its section");
    }
    data_total_ += size;
    if (data_total_ > section_.size()) {
        return Error::at_byte(entry_at,
                              "resource data add up to more than their section holds "
                              "(the data overlap)");
    }
    const auto bytes = section_.subspan(rva - section_rva_, size);
    entry.data.assign(bytes.begin(), bytes.end());
    entry.rva = rva;
    out_.push_back(std::move(entry));
    return {};
}

}  // namespace

Result<std::vector<ResourceEntry>> parse_resource_directory(std::span<const std::uint8_t> section,
                                                            std::uint32_t section_rva,
                                                            std::uint32_t directory_rva) {
    if (directory_rva < section_rva || directory_rva - section_rva >= section.size()) {
        return Error::at_byte(
            0, "the resource directory (RVA " + hex(directory_rva) + ") lies outside its section");
    }
    const std::size_t root = directory_rva - section_rva;
    TreeReader tree(section, section_rva,
                    Reader(section).sub(root, section.size() - root, "resource directory"));
    if (auto read = tree.table(0, 0, ResourceEntry{}); !read.ok()) {
        return read.error();
    }
    return tree.take();
}

}  // namespace sim
