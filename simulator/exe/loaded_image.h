// A checked Windows CE image and what running it takes: its sections
// mapped at its address with their protections at every start, its import
// address table filled with the simulated DLLs' functions (through the stubs
// that change calling convention, ce_abi.S), and the calls into its code.
// Only one image is mapped at a time (only one device runs at a time): a
// start maps this one over whichever was mapped before.
#ifndef CORVANE_SIMULATOR_EXE_LOADED_IMAGE_H
#define CORVANE_SIMULATOR_EXE_LOADED_IMAGE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "simulator/device/device.h"
#include "simulator/exe/exe_loader.h"
#include "simulator/exe/simulated_dlls.h"
#include "simulator/pe/pe_image.h"

namespace sim {

// An import slot of the image and the function it is bound to.
struct BoundImport {
    const ce::SimulatedFunction* function;
    std::uint32_t iat_rva;
};

class LoadedImage : public std::enable_shared_from_this<LoadedImage> {
  public:
    // Fails where the image cannot run: another machine than the ARM
    // lane's, or a layout the loader cannot map.
    static Result<std::shared_ptr<LoadedImage>> make(PeImage image,
                                                     std::vector<BoundImport> imports);
    ~LoadedImage();
    LoadedImage(const LoadedImage&) = delete;
    LoadedImage& operator=(const LoadedImage&) = delete;

    const PeImage& image() const { return image_; }
    std::uint32_t base() const { return base_; }

    // The program as the device runs it, started with `instance`; its state
    // record at `state_rva` as `state` lays it out.
    ProgramImage program(HINSTANCE instance, std::uint32_t state_rva,
                         const StateRecordLayout& state);

  private:
    LoadedImage(PeImage image, std::vector<BoundImport> imports, std::uint32_t base);
    // Maps the image afresh: its headers and sections as the file has them,
    // the rest zero, the import slots bound, the protections applied.
    void load();
    void map_region();
    void unmap_region();
    void protect();
    // Whether `address` is in an executable section of the image.
    bool is_code(std::uint32_t address) const;
    std::uint32_t call(std::uint32_t address, const char* what,
                       std::initializer_list<std::uint32_t> args) const;

    PeImage image_;
    std::vector<BoundImport> imports_;
    std::uint32_t base_;
    std::uint32_t span_;  // SizeOfImage, whole pages
    void* stubs_ = nullptr;
    std::size_t stubs_size_ = 0;
    bool mapped_ = false;
};

}  // namespace sim

#endif
