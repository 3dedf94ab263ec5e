#include "simulator/kernel/handles.h"

namespace sim {

void* HandleTable::open(const SimThread& thread) {
    const std::uintptr_t handle = next_;
    next_ += 4;
    threads_[handle] = &thread;
    return reinterpret_cast<void*>(handle);
}

bool HandleTable::close(void* handle) {
    return threads_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
}

std::size_t HandleTable::close_all() {
    const std::size_t n = threads_.size();
    threads_.clear();
    return n;
}

Section* SectionTable::create() {
    auto section = std::make_unique<Section>();
    section->serial = next_++;
    Section* raw = section.get();
    sections_[raw] = std::move(section);
    return raw;
}

Section* SectionTable::find(void* handle) {
    auto it = sections_.find(handle);
    return it == sections_.end() ? nullptr : it->second.get();
}

void SectionTable::remove(void* handle) {
    sections_.erase(handle);
}

}  // namespace sim
