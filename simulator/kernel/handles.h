// The handles a process holds to kernel objects (its threads), and the
// critical sections it created. Both belong to the process: they go when it
// ends.
#ifndef CORVANE_SIMULATOR_KERNEL_HANDLES_H
#define CORVANE_SIMULATOR_KERNEL_HANDLES_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include "simulator/kernel/kernel.h"

namespace sim {

class HandleTable {
  public:
    void* open(const SimThread& thread);
    bool close(void* handle);
    std::size_t size() const { return threads_.size(); }
    // Closes every handle; returns how many were open.
    std::size_t close_all();

  private:
    std::map<std::uintptr_t, const SimThread*> threads_;
    std::uintptr_t next_ = 0x400;
};

// A critical section: its owner and how often the owner entered it. A
// thread waiting for it blocks on the section itself.
struct Section {
    std::uint64_t serial = 0;
    const SimThread* owner = nullptr;
    int depth = 0;
};

class SectionTable {
  public:
    Section* create();
    Section* find(void* handle);
    void remove(void* handle);

  private:
    std::map<void*, std::unique_ptr<Section>> sections_;
    std::uint64_t next_ = 1;
};

}  // namespace sim

#endif
