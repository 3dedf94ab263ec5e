// Virtual memory of the simulated device: reservations, physical mappings
// and their release, with real host mappings underneath.
//
// A reservation is a host page with no access. Mapping a device's physical
// page into it maps that device's shared memory object over it with the
// protection asked for, so a load through it reads the device register and
// a store through a read-only mapping faults, as on the device.
//
// The program maps and releases a register page around every access, so the
// host pages are pooled: a released range goes back to the pool with no
// access and whatever object it had mapped still underneath, and mapping the
// same object into it again is one change of protection rather than a new
// host mapping. Access to a released range still faults.
#ifndef CORVANE_SIMULATOR_WINCE_MEMORY_H
#define CORVANE_SIMULATOR_WINCE_MEMORY_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "simulator/result.h"

namespace sim {

// A device page that can be mapped: its physical address and the shared
// memory object that holds it.
struct PhysicalPage {
    std::uint64_t base = 0;
    std::size_t size = 0;
    int fd = -1;
};

class VirtualMemory {
  public:
    static constexpr std::size_t kPageSize = 4096;

    VirtualMemory() = default;
    ~VirtualMemory();
    VirtualMemory(const VirtualMemory&) = delete;
    VirtualMemory& operator=(const VirtualMemory&) = delete;

    void add_physical_page(PhysicalPage page) { physical_[page.base] = page; }

    // A reserved, inaccessible range of at least `size` bytes.
    Result<void*> reserve(std::uint32_t size);
    // Maps `size` bytes of physical memory at `physical` over `dest` with
    // `access` (PAGE_READONLY or PAGE_READWRITE). A range maps once: mapping
    // over a range already mapped fails, as on the device.
    Result<void> map_physical(void* dest, std::uint64_t physical, std::uint32_t size,
                              std::uint32_t access);
    bool release(void* base);
    // Releases every range (the process's address space goes with it);
    // returns how many there were.
    std::size_t release_all();

    struct Translation {
        std::uint64_t physical;
        bool writable;
    };
    // The physical address mapped at `p`, if any.
    std::optional<Translation> translate(const void* p) const;

    // A short stable name for a reservation ("range#3"), for traces.
    std::string name_of(const void* p) const;

    std::size_t outstanding() const { return ranges_.size(); }
    std::uint64_t reservations_made() const { return next_serial_ - 1; }
    // Released host ranges held for reuse (not reservations of the program).
    std::size_t pooled() const { return free_count_; }

    // Failure points: the next n reservations, or the next n mappings, fail.
    void fail_next_reservations(int n) { fail_reservations_ = n; }
    void fail_next_mappings(int n) { fail_mappings_ = n; }
    int failing_reservations() const { return fail_reservations_; }
    int failing_mappings() const { return fail_mappings_; }

  private:
    // The host object under a host range's first `bytes` (fd -1: anonymous
    // memory only). It stays there, with no access, after the range is released.
    struct Backing {
        int fd = -1;
        std::size_t bytes = 0;
    };
    struct Range {
        std::size_t size = 0;
        std::uint64_t serial = 0;
        std::optional<Translation> mapping;  // at the range's start
        std::size_t mapped_bytes = 0;
        Backing backing;
    };
    struct FreeSlot {
        std::uintptr_t base = 0;
        Backing backing;
    };
    // Released host ranges kept for reuse, at most this many.
    static constexpr std::size_t kMaxFreeSlots = 16;

    const std::pair<const std::uintptr_t, Range>* range_containing(const void* p) const;
    // Takes away all access to a range and keeps it for reuse, or unmaps it
    // when the pool is full.
    void recycle(std::uintptr_t base, const Range& range);

    std::map<std::uintptr_t, Range> ranges_;
    std::map<std::size_t, std::vector<FreeSlot>> free_;  // by size
    std::size_t free_count_ = 0;
    std::map<std::uint64_t, PhysicalPage> physical_;
    std::uint64_t next_serial_ = 1;
    int fail_reservations_ = 0;
    int fail_mappings_ = 0;
};

}  // namespace sim

#endif
