#include "simulator/wince/module.h"

#include <cstdlib>
#include <string>

namespace sim {

const ResourceEntry* Module::find(const ResId& type, const ResId& name) const {
    for (const auto& e : entries_) {
        if (e.type == type && e.name == name) {
            return &e;
        }
    }
    return nullptr;
}

const void* Module::data_of(const ResourceEntry& entry) const {
    if (image_base_ != 0 && entry.rva != 0) {
        return reinterpret_cast<const void*>(image_base_ + entry.rva);
    }
    return entry.data.data();
}

const ResourceEntry* Module::entry_at(const void* data) const {
    for (const auto& e : entries_) {
        if (!e.data.empty() && data_of(e) == data) {
            return &e;
        }
    }
    return nullptr;
}

bool Module::holds(const ResourceEntry* entry) const {
    for (const auto& e : entries_) {
        if (&e == entry) {
            return true;
        }
    }
    return false;
}

Result<IconImage> find_icon_image(const Module& module, std::uint16_t resource, int width,
                                  int height) {
    const std::string group_name = "icon group " + std::to_string(resource);
    const ResourceEntry* group =
        module.find(ResId::number(rt::kGroupIcon), ResId::number(resource));
    if (group == nullptr) {
        return Error{"no icon resource " + std::to_string(resource)};
    }
    auto entries = parse_icon_group(group->data);
    if (!entries.ok()) {
        return Error{"corrupt " + group_name + ": " + entries.error().describe()};
    }
    // The image nearest the size asked for; the larger one on a tie.
    const IconDirEntry* best = nullptr;
    int best_distance = 0;
    for (const auto& e : entries.value()) {
        const int distance = std::abs(e.width - width) + std::abs(e.height - height);
        if (best == nullptr || distance < best_distance ||
            (distance == best_distance && e.width > best->width)) {
            best = &e;
            best_distance = distance;
        }
    }
    if (best == nullptr) {
        return Error{group_name + " holds no image"};
    }
    const ResourceEntry* image_entry =
        module.find(ResId::number(rt::kIcon), ResId::number(best->icon_id));
    if (image_entry == nullptr) {
        return Error{group_name + " names a missing image"};
    }
    auto image = parse_icon_image(image_entry->data);
    if (!image.ok()) {
        return Error{"corrupt icon image " + std::to_string(best->icon_id) + ": " +
                     image.error().describe()};
    }
    return std::move(image.value());
}

Result<HICON> IconTable::load(const Module& module, std::uint16_t resource, int width, int height,
                              bool shared) {
    const auto key = std::make_tuple(resource, width, height);
    if (shared) {
        if (auto cached = cache_.find(key); cached != cache_.end()) {
            return reinterpret_cast<HICON>(cached->second);
        }
    }
    auto image = find_icon_image(module, resource, width, height);
    if (!image.ok()) {
        return image.error();
    }
    const std::uintptr_t handle = next_++;
    icons_[handle] = LoadedIcon{resource, std::move(image.value()), shared};
    if (shared) {
        cache_[key] = handle;
    }
    return reinterpret_cast<HICON>(handle);
}

bool IconTable::destroy(HICON handle) {
    auto it = icons_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == icons_.end() || it->second.shared) {
        return false;
    }
    icons_.erase(it);
    return true;
}

std::size_t IconTable::release_owned() {
    std::size_t n = 0;
    for (auto it = icons_.begin(); it != icons_.end();) {
        if (it->second.shared) {
            ++it;
        } else {
            it = icons_.erase(it);
            ++n;
        }
    }
    return n;
}

const LoadedIcon* IconTable::find(HICON handle) const {
    auto it = icons_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == icons_.end() ? nullptr : &it->second;
}

}  // namespace sim
