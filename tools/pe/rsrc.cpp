#include "tools/pe/rsrc.h"

#include <algorithm>
#include <map>
#include <sstream>

#include "tools/pe/bytes.h"

namespace pe {

using ResEntry = sim::ResourceEntry;
using sim::ResId;

namespace {

constexpr std::uint32_t kDirectoryHeaderSize = 16;
constexpr std::uint32_t kDirectoryEntrySize = 8;
constexpr std::uint32_t kDataEntrySize = 16;
constexpr std::uint32_t kDataAlignment = 8;
constexpr std::uint32_t kIsDirectory = 0x80000000u;
constexpr std::uint32_t kIsName = 0x80000000u;

char16_t upper(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

std::u16string folded(const std::u16string& name) {
    std::u16string result = name;
    std::transform(result.begin(), result.end(), result.begin(), upper);
    return result;
}

bool is_name(const ResId& id) {
    return !id.ordinal;
}

// The id as the resource compiler writes it: "104" or "\"NAME\"".
std::string describe(const ResId& id) {
    if (id.ordinal) {
        return std::to_string(*id.ordinal);
    }
    std::string text = "\"";
    for (const char16_t unit : id.name) {
        text += unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?';
    }
    return text + "\"";
}

// The order of a directory level: names (case folded) before ordinals.
struct IdOrder {
    bool operator()(const ResId& a, const ResId& b) const {
        if (is_name(a) != is_name(b)) {
            return is_name(a);
        }
        return is_name(a) ? folded(a.name) < folded(b.name) : *a.ordinal < *b.ordinal;
    }
};

using Languages = std::map<std::uint16_t, const ResEntry*>;
using Names = std::map<ResId, Languages, IdOrder>;
using Types = std::map<ResId, Names, IdOrder>;

void insert(Types& tree, const ResEntry& entry) {
    Names& names = tree[entry.type];
    const auto type_key = tree.find(entry.type)->first;
    if (is_name(type_key) && type_key.name != entry.type.name) {
        throw Error("resource types " + describe(type_key) + " and " + describe(entry.type) +
                    " differ only in case");
    }
    const auto found = names.find(entry.name);
    if (found != names.end() && is_name(found->first) && found->first.name != entry.name.name) {
        throw Error("resource names " + describe(found->first) + " and " + describe(entry.name) +
                    " differ only in case");
    }
    names[entry.name][entry.language] = &entry;
}

// Where everything goes: directories first, then the data entries, the
// name strings and the data itself.
class Layout {
  public:
    explicit Layout(const Types& tree) {
        std::uint32_t tables = table_size(tree.size());
        std::uint32_t leaves = 0;
        for (const auto& [type, names] : tree) {
            tables += table_size(names.size());
            for (const auto& [name, languages] : names) {
                tables += table_size(languages.size());
                leaves += static_cast<std::uint32_t>(languages.size());
            }
        }
        data_entries_ = tables;
        strings_ = data_entries_ + leaves * kDataEntrySize;
    }
    static std::uint32_t table_size(std::size_t entries) {
        return kDirectoryHeaderSize + static_cast<std::uint32_t>(entries) * kDirectoryEntrySize;
    }
    std::uint32_t data_entries() const { return data_entries_; }
    std::uint32_t strings() const { return strings_; }

  private:
    std::uint32_t data_entries_ = 0;
    std::uint32_t strings_ = 0;
};

// Writes the section in one pass over the tree, in the order of Layout.
class RsrcWriter {
  public:
    RsrcWriter(const Types& tree, std::uint32_t section_rva)
        : tree_(tree), layout_(tree), section_rva_(section_rva) {}

    std::vector<std::uint8_t> write();

  private:
    template <typename Level>
    void table(const Level& level);
    std::uint32_t id_field(const ResId& id);
    void strings_and_data();

    const Types& tree_;
    Layout layout_;
    std::uint32_t section_rva_;
    Writer out_;
    std::uint32_t next_table_ = 0;
    std::vector<std::u16string> strings_;
    std::uint32_t strings_size_ = 0;
    std::vector<const ResEntry*> leaves_;
};

std::uint32_t RsrcWriter::id_field(const ResId& id) {
    if (id.ordinal) {
        return *id.ordinal;
    }
    const std::uint32_t offset = layout_.strings() + strings_size_;
    strings_.push_back(id.name);
    strings_size_ += 2 + 2 * static_cast<std::uint32_t>(id.name.size());
    return kIsName | offset;
}

// One directory table: its header, then its entries, each pointing at its
// table of the next level. Those tables follow in the order their entries
// are written, so each one's offset is the previous one's plus its size.
template <typename Level>
void RsrcWriter::table(const Level& level) {
    const auto named = std::count_if(level.begin(), level.end(),
                                     [](const auto& item) { return is_name(item.first); });
    out_.u32(0);  // Characteristics
    out_.u32(0);  // TimeDateStamp
    out_.u32(0);  // MajorVersion, MinorVersion
    out_.u16(static_cast<std::uint16_t>(named));
    out_.u16(static_cast<std::uint16_t>(level.size() - named));
    for (const auto& item : level) {
        out_.u32(id_field(item.first));
        out_.u32(kIsDirectory | next_table_);
        next_table_ += Layout::table_size(item.second.size());
    }
}

void RsrcWriter::strings_and_data() {
    for (const std::u16string& name : strings_) {
        out_.u16(static_cast<std::uint16_t>(name.size()));
        for (const char16_t unit : name) {
            out_.u16(static_cast<std::uint16_t>(unit));
        }
    }
    std::vector<std::uint32_t> data_offsets;
    for (const ResEntry* leaf : leaves_) {
        out_.align(kDataAlignment);
        data_offsets.push_back(static_cast<std::uint32_t>(out_.size()));
        out_.bytes(leaf->data);
    }
    for (std::size_t i = 0; i < leaves_.size(); ++i) {
        const std::size_t at = layout_.data_entries() + i * kDataEntrySize;
        const std::uint64_t data_rva = std::uint64_t{section_rva_} + data_offsets[i];
        if (data_rva > 0x7FFFFFFFu) {
            throw Error("the resources do not fit in the image");
        }
        out_.put_u32(at, static_cast<std::uint32_t>(data_rva));
        out_.put_u32(at + 4, static_cast<std::uint32_t>(leaves_[i]->data.size()));
    }
}

std::vector<std::uint8_t> RsrcWriter::write() {
    next_table_ = Layout::table_size(tree_.size());
    table(tree_);
    for (const auto& [type, names] : tree_) {
        table(names);
    }
    // The language tables point at data entries rather than at tables.
    std::uint32_t leaf = 0;
    for (const auto& [type, names] : tree_) {
        for (const auto& [name, languages] : names) {
            out_.u32(0);
            out_.u32(0);
            out_.u32(0);
            out_.u16(0);
            out_.u16(static_cast<std::uint16_t>(languages.size()));
            for (const auto& [language, entry] : languages) {
                out_.u32(language);
                out_.u32(layout_.data_entries() + leaf++ * kDataEntrySize);
                leaves_.push_back(entry);
            }
        }
    }
    // Data entries, filled in once the data's place is known.
    out_.zeros(leaves_.size() * kDataEntrySize);
    strings_and_data();
    return std::move(out_.data());
}

}  // namespace

std::vector<ResEntry> read_res(const std::string& path) {
    auto parsed = sim::parse_res_file(read_file(path));
    if (!parsed.ok()) {
        std::ostringstream text;
        text << path << ": at offset 0x" << std::hex << parsed.error().offset.value_or(0) << ": "
             << parsed.error().message;
        throw Error(text.str());
    }
    std::vector<ResEntry>& entries = parsed.value();
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        for (auto other = entries.begin(); other != entry; ++other) {
            if (other->type == entry->type && other->name == entry->name &&
                other->language == entry->language) {
                throw Error(path + ": a second resource of type " + describe(entry->type) +
                            ", name " + describe(entry->name) + " and language " +
                            std::to_string(entry->language));
            }
        }
    }
    return std::move(entries);
}

std::vector<std::uint8_t> build_rsrc(const std::vector<ResEntry>& entries,
                                     std::uint32_t section_rva) {
    Types tree;
    for (const ResEntry& entry : entries) {
        insert(tree, entry);
    }
    return RsrcWriter(tree, section_rva).write();
}

}  // namespace pe
