// The program's module: its compiled resources, read-only once loaded, and
// the icons loaded from them.
#ifndef CORVANE_SIMULATOR_WINCE_MODULE_H
#define CORVANE_SIMULATOR_WINCE_MODULE_H

#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "simulator/pe/resources.h"
#include "simulator/support/result.h"
#include "simulator/wince/winapi.h"

namespace sim {

class Module {
  public:
    // The instance the built-in program is started with: the image base of
    // a Windows CE exe.
    static HINSTANCE built_in_instance() {
        return reinterpret_cast<HINSTANCE>(std::uintptr_t{0x10000});
    }
    // `image_base`: where the module's image is mapped, when its resources
    // were read from one (each entry's data then lies at image_base + rva).
    explicit Module(std::vector<ResourceEntry> entries, HINSTANCE instance = built_in_instance(),
                    std::uintptr_t image_base = 0)
        : entries_(std::move(entries)), instance_(instance), image_base_(image_base) {}
    // The handle the program's entry is given and the resource functions
    // accept for this module.
    HINSTANCE instance() const { return instance_; }
    const ResourceEntry* find(const ResId& type, const ResId& name) const;
    // Where `entry`'s data lies, as LoadResource gives it: in the mapped
    // image when there is one, else in the simulator's copy.
    const void* data_of(const ResourceEntry& entry) const;
    // The resource whose data begins at `data` (what LoadResource returned).
    const ResourceEntry* entry_at(const void* data) const;
    // Whether `entry` is one of this module's resources.
    bool holds(const ResourceEntry* entry) const;
    const std::vector<ResourceEntry>& entries() const { return entries_; }

  private:
    std::vector<ResourceEntry> entries_;
    HINSTANCE instance_;
    std::uintptr_t image_base_;
};

// The image of icon `resource` nearest the size asked for (the larger on a
// tie), as LoadIcon and LoadImage choose it.
Result<IconImage> find_icon_image(const Module& module, std::uint16_t resource, int width,
                                  int height);

struct LoadedIcon {
    std::uint16_t resource = 0;  // the icon group's id
    IconImage image;
    bool shared = false;
};

// The program's icons. A shared icon (LoadIcon, LoadImage with LR_SHARED)
// is loaded once per (resource, size) and lives as long as the module; any
// other load makes a new icon that lives until DestroyIcon or the end of
// the process.
class IconTable {
  public:
    Result<HICON> load(const Module& module, std::uint16_t resource, int width, int height,
                       bool shared);
    const LoadedIcon* find(HICON handle) const;
    // Destroys an icon of the program's own (not a shared one).
    bool destroy(HICON handle);
    // The icons the program owns and has not destroyed.
    std::size_t owned() const { return icons_.size() - cache_.size(); }
    std::size_t shared() const { return cache_.size(); }
    // The process ended: its own icons go with it. Returns how many.
    std::size_t release_owned();

  private:
    std::map<std::uintptr_t, LoadedIcon> icons_;
    std::map<std::tuple<std::uint16_t, int, int>, std::uintptr_t> cache_;
    std::uintptr_t next_ = 0x20000;
};

}  // namespace sim

#endif
