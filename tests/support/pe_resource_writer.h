// The resource section of the tests' executable images, built from
// resource entries as a linker lays one out, and the byte helpers the
// image writer shares.
#ifndef CORVANE_TESTS_SUPPORT_PE_RESOURCE_WRITER_H
#define CORVANE_TESTS_SUPPORT_PE_RESOURCE_WRITER_H

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "simulator/pe/resources.h"

namespace pe_test {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}
inline std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
           static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
inline std::size_t align_up(std::size_t v, std::size_t to) {
    return (v + to - 1) / to * to;
}

// Orders resource ids as the format does: names first, then numbers.
struct IdOrder {
    bool operator()(const sim::ResId& a, const sim::ResId& b) const {
        if (a.ordinal.has_value() != b.ordinal.has_value()) {
            return !a.ordinal.has_value();
        }
        return a.ordinal ? *a.ordinal < *b.ordinal : a.name < b.name;
    }
};

// Writes a resource section: the tables of the three levels (types, names,
// languages), the data entries, the name strings, then the data.
class ResourceSectionWriter {
  public:
    ResourceSectionWriter(const std::vector<sim::ResourceEntry>& entries, std::uint32_t rva)
        : entries_(entries), rva_(rva) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            tree_[entries[i].type][entries[i].name][entries[i].language] = i;
        }
        lay_out();
    }

    Bytes write() {
        write_level(0, tree_);
        for (const auto& [type, names] : tree_) {
            write_level(table_at_[&names], names);
            for (const auto& [name, languages] : names) {
                std::size_t slot = write_table_header(table_at_[&languages], 0, languages.size());
                for (const auto& [language, index] : languages) {
                    put32(out_, slot, language);
                    put32(out_, slot + 4, static_cast<std::uint32_t>(data_entry_[index]));
                    slot += 8;
                }
            }
        }
        write_strings_and_data();
        return std::move(out_);
    }

  private:
    using Languages = std::map<std::uint16_t, std::size_t>;
    using Names = std::map<sim::ResId, Languages, IdOrder>;

    static std::size_t table_size(std::size_t count) { return 16 + 8 * count; }

    void lay_out() {
        std::size_t off = table_size(tree_.size());
        for (auto& [type, names] : tree_) {
            table_at_[&names] = off;
            off += table_size(names.size());
        }
        for (auto& [type, names] : tree_) {
            for (auto& [name, languages] : names) {
                table_at_[&languages] = off;
                off += table_size(languages.size());
            }
        }
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            data_entry_.push_back(off);
            off += 16;
        }
        for (const auto& e : entries_) {
            for (const sim::ResId* id : {&e.type, &e.name}) {
                if (!id->ordinal && !strings_.count(id->name)) {
                    strings_[id->name] = off;
                    off += 2 + 2 * id->name.size();
                }
            }
        }
        for (const auto& e : entries_) {
            off = align_up(off, 4);
            data_.push_back(off);
            off += e.data.size();
        }
        out_.resize(align_up(off, 4));
    }

    std::size_t write_table_header(std::size_t at, std::size_t named, std::size_t ids) {
        put16(out_, at + 12, static_cast<std::uint32_t>(named));
        put16(out_, at + 14, static_cast<std::uint32_t>(ids));
        return at + 16;
    }

    // A table of types or of names: each entry points at the table below.
    template <class Level>
    void write_level(std::size_t at, const Level& level) {
        std::size_t named = 0;
        for (const auto& [id, below] : level) {
            named += id.ordinal ? 0 : 1;
        }
        std::size_t slot = write_table_header(at, named, level.size() - named);
        for (const auto& [id, below] : level) {
            const std::uint32_t name =
                id.ordinal ? *id.ordinal
                           : 0x80000000u | static_cast<std::uint32_t>(strings_[id.name]);
            put32(out_, slot, name);
            put32(out_, slot + 4, 0x80000000u | static_cast<std::uint32_t>(table_at_[&below]));
            slot += 8;
        }
    }

    void write_strings_and_data() {
        for (const auto& [text, at] : strings_) {
            put16(out_, at, static_cast<std::uint32_t>(text.size()));
            for (std::size_t k = 0; k < text.size(); ++k) {
                put16(out_, at + 2 + 2 * k, text[k]);
            }
        }
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            put32(out_, data_entry_[i], static_cast<std::uint32_t>(rva_ + data_[i]));
            put32(out_, data_entry_[i] + 4, static_cast<std::uint32_t>(entries_[i].data.size()));
            std::copy(entries_[i].data.begin(), entries_[i].data.end(), out_.begin() + data_[i]);
        }
    }

    const std::vector<sim::ResourceEntry>& entries_;
    std::uint32_t rva_;
    std::map<sim::ResId, Names, IdOrder> tree_;
    std::map<const void*, std::size_t> table_at_;  // keyed by the map a table lists
    std::vector<std::size_t> data_entry_, data_;
    std::map<std::u16string, std::size_t> strings_;
    Bytes out_;
};

inline Bytes build_resource_section(const std::vector<sim::ResourceEntry>& entries,
                                    std::uint32_t rva) {
    return ResourceSectionWriter(entries, rva).write();
}

}  // namespace pe_test

#endif
