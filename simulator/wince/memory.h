// Virtual memory of the simulated device: reservations, physical mappings
// and their release, with real host mappings underneath.
//
// A reservation is a range of host pages with no access, and they keep no
// access for their whole life: mapping a device's physical page into a range
// only records the translation. The register accessors (READ_REGISTER_ULONG,
// WRITE_REGISTER_ULONG) look an address up here and reach the device's
// register through `register_at`, which refuses what the device's MMU would
// fault on: an address with no mapping (never mapped, or released), a store
// through a read-only mapping, an access past the mapped bytes or not
// aligned to its 4 bytes. Any other load or store through a range (a plain
// pointer dereference that bypasses the accessors) faults on the host page,
// so no register access goes unseen by the device.
//
// The program maps and releases a register page around every access, so
// this costs no host system call: released host ranges are pooled and
// handed out again for reservations of the same size.
#ifndef CORVANE_SIMULATOR_WINCE_MEMORY_H
#define CORVANE_SIMULATOR_WINCE_MEMORY_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "simulator/support/result.h"

namespace sim {

// A device page that can be mapped: its physical address and the device's
// own memory behind it, 32-bit registers.
struct PhysicalPage {
    std::uint64_t base = 0;
    std::size_t size = 0;
    std::uint32_t* words = nullptr;
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

    // The device register a 32-bit load (or, with `store`, a store) at `p`
    // reaches and its physical address, or why the device would fault on it.
    struct Register {
        std::uint32_t* word;
        std::uint64_t physical;
    };
    Result<Register> register_at(const void* p, bool store) const;

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
    struct Translation {
        std::uint64_t physical;
        bool writable;
    };
    struct Range {
        std::size_t size = 0;
        std::uint64_t serial = 0;
        std::optional<Translation> mapping;  // at the range's start
        std::size_t mapped_bytes = 0;
    };
    // Released host ranges kept for reuse, at most this many.
    static constexpr std::size_t kMaxFreeSlots = 16;

    const std::pair<const std::uintptr_t, Range>* range_containing(const void* p) const;
    // Keeps a released host range for reuse, or unmaps it when the pool is full.
    void recycle(std::uintptr_t base, const Range& range);

    std::map<std::uintptr_t, Range> ranges_;
    std::map<std::size_t, std::vector<std::uintptr_t>> free_;  // by size
    std::size_t free_count_ = 0;
    std::map<std::uint64_t, PhysicalPage> physical_;
    std::uint64_t next_serial_ = 1;
    int fail_reservations_ = 0;
    int fail_mappings_ = 0;
};

}  // namespace sim

#endif
