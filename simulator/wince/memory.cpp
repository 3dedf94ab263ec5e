#include "simulator/wince/memory.h"

#include <sys/mman.h>

#include <algorithm>

namespace sim {

namespace {
std::size_t round_to_pages(std::size_t n) {
    return (n + VirtualMemory::kPageSize - 1) / VirtualMemory::kPageSize * VirtualMemory::kPageSize;
}
}  // namespace

VirtualMemory::~VirtualMemory() {
    for (const auto& [base, range] : ranges_) {
        munmap(reinterpret_cast<void*>(base), range.size);
    }
    for (const auto& [size, bases] : free_) {
        for (const std::uintptr_t base : bases) {
            munmap(reinterpret_cast<void*>(base), size);
        }
    }
}

Result<void*> VirtualMemory::reserve(std::uint32_t size) {
    if (fail_reservations_ > 0) {
        --fail_reservations_;
        return Error{"reservation failed (failure point)"};
    }
    if (size == 0) {
        return Error{"zero-size reservation"};
    }
    const std::size_t bytes = round_to_pages(size);
    auto pooled = free_.find(bytes);
    if (pooled != free_.end() && !pooled->second.empty()) {
        const std::uintptr_t base = pooled->second.back();
        pooled->second.pop_back();
        --free_count_;
        ranges_[base] = Range{bytes, next_serial_++, std::nullopt, 0};
        return reinterpret_cast<void*>(base);
    }
    void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) {
        return Error{"host address space exhausted"};
    }
    ranges_[reinterpret_cast<std::uintptr_t>(p)] = Range{bytes, next_serial_++, std::nullopt, 0};
    return p;
}

void VirtualMemory::recycle(std::uintptr_t base, const Range& range) {
    if (free_count_ >= kMaxFreeSlots) {
        munmap(reinterpret_cast<void*>(base), range.size);
        return;
    }
    free_[range.size].push_back(base);
    ++free_count_;
}

const std::pair<const std::uintptr_t, VirtualMemory::Range>* VirtualMemory::range_containing(
    const void* p) const {
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    auto it = ranges_.upper_bound(address);
    if (it == ranges_.begin()) {
        return nullptr;
    }
    --it;
    if (address >= it->first + it->second.size) {
        return nullptr;
    }
    return &*it;
}

Result<void> VirtualMemory::map_physical(void* dest, std::uint64_t physical, std::uint32_t size,
                                         std::uint32_t access) {
    if (fail_mappings_ > 0) {
        --fail_mappings_;
        return Error{"mapping failed (failure point)"};
    }
    if (dest == nullptr) {
        return Error{"no destination range"};
    }
    auto found = ranges_.find(reinterpret_cast<std::uintptr_t>(dest));
    if (found == ranges_.end()) {
        return Error{"destination is not the start of a reserved range"};
    }
    Range& range = found->second;
    if (range.mapping) {
        return Error{"destination is already mapped"};
    }
    if (size == 0 || size > range.size) {
        return Error{"size does not fit the reserved range"};
    }
    if (physical % kPageSize != 0) {
        return Error{"physical address is not page aligned"};
    }
    auto page = physical_.find(physical);
    if (page == physical_.end()) {
        return Error{"no device at this physical address"};
    }
    if (size > page->second.size) {
        return Error{"size runs past the device's memory"};
    }
    if (access != 0x02 && access != 0x04) {
        return Error{"protection must be PAGE_READONLY or PAGE_READWRITE"};
    }
    // The mapping covers whole pages, as the MMU maps them, but never more
    // than the device has.
    range.mapping = Translation{physical, access == 0x04};
    range.mapped_bytes = std::min(round_to_pages(size), page->second.size);
    return {};
}

bool VirtualMemory::release(void* base) {
    auto found = ranges_.find(reinterpret_cast<std::uintptr_t>(base));
    if (found == ranges_.end()) {
        return false;
    }
    recycle(found->first, found->second);
    ranges_.erase(found);
    return true;
}

std::size_t VirtualMemory::release_all() {
    const std::size_t n = ranges_.size();
    for (const auto& [base, range] : ranges_) {
        recycle(base, range);
    }
    ranges_.clear();
    return n;
}

Result<VirtualMemory::Register> VirtualMemory::register_at(const void* p, bool store) const {
    const auto* entry = range_containing(p);
    if (entry == nullptr) {
        return Error{"no reserved range there"};
    }
    const Range& range = entry->second;
    if (!range.mapping) {
        return Error{"the range maps nothing"};
    }
    const auto offset = reinterpret_cast<std::uintptr_t>(p) - entry->first;
    if (offset % sizeof(std::uint32_t) != 0) {
        return Error{"not aligned to 4 bytes"};
    }
    if (offset + sizeof(std::uint32_t) > range.mapped_bytes) {
        return Error{"past the mapped bytes"};
    }
    if (store && !range.mapping->writable) {
        return Error{"store through a read-only mapping"};
    }
    // map_physical checked that the mapped bytes lie within the device page.
    const PhysicalPage& page = physical_.at(range.mapping->physical);
    return Register{page.words + offset / sizeof(std::uint32_t), range.mapping->physical + offset};
}

std::string VirtualMemory::name_of(const void* p) const {
    if (p == nullptr) {
        return "NULL";
    }
    const auto* entry = range_containing(p);
    if (entry == nullptr) {
        return "unreserved";
    }
    const auto offset = reinterpret_cast<std::uintptr_t>(p) - entry->first;
    std::string name = "range#" + std::to_string(entry->second.serial);
    return offset == 0 ? name : name + "+" + std::to_string(offset);
}

}  // namespace sim
