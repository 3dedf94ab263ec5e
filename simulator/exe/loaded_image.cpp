#include "simulator/exe/loaded_image.h"

#include <sys/mman.h>

#include <cstring>

#include "simulator/api/platform_call.h"
#include "simulator/pe/pe_load_rules.h"
#include "simulator/support/hex.h"
#if defined(__arm__)
#include "simulator/api/arm_trap.h"
#include "simulator/exe/ce_boundary.h"
#endif

namespace sim {

namespace {

constexpr std::uint32_t kPage = 4096;

// The image mapped now, if any.
LoadedImage* g_mapped = nullptr;

std::uint32_t round_up(std::uint64_t n) {
    return static_cast<std::uint32_t>((n + kPage - 1) / kPage * kPage);
}

// What the program gets as its command line: none.
const char16_t kNoCommandLine[1] = {0};

#if defined(__arm__)
// Each import's stub: r12 = the guarded function, then on to the common
// entry that realigns the stack (ce_abi.S).
//   ldr r12, [pc, #0]     @ the word at +8
//   ldr pc, [pc, #0]      @ the word at +12
constexpr std::uint32_t kLdrIpFromPc = 0xE59FC000;
constexpr std::uint32_t kLdrPcFromPc = 0xE59FF000;
#endif
constexpr std::size_t kStubWords = 4;

template <class F>
std::uint32_t code_address(F* function) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(function));
}

int protection(std::uint32_t characteristics) {
    int p = PROT_NONE;
    p |= (characteristics & pe::kScnRead) != 0 ? PROT_READ : 0;
    p |= (characteristics & pe::kScnWrite) != 0 ? PROT_READ | PROT_WRITE : 0;
    p |= (characteristics & pe::kScnExecute) != 0 ? PROT_READ | PROT_EXEC : 0;
    return p;
}

}  // namespace

Result<std::shared_ptr<LoadedImage>> LoadedImage::make(PeImage image,
                                                       std::vector<BoundImport> imports) {
#if !defined(__arm__)
    (void)image;
    (void)imports;
    return Error{
        "the image is ARM code; run it in the ARM lane (build/arm/corvane-sim under qemu-arm)"};
#else
    const std::uint32_t base = load_base(image);
    if (base != image.image_base) {
        return Error{"the image would need relocating from " + hex(image.image_base) + " to " +
                     hex(base) + ", which this loader does not do"};
    }
    // Each section starts on a page of its own (check_loadable), so each
    // gets its own protection.
    return std::shared_ptr<LoadedImage>(
        new LoadedImage(std::move(image), std::move(imports), base));
#endif
}

LoadedImage::LoadedImage(PeImage image, std::vector<BoundImport> imports, std::uint32_t base)
    : image_(std::move(image)),
      imports_(std::move(imports)),
      base_(base),
      span_(round_up(image_.size_of_image)) {
#if defined(__arm__)
    stubs_size_ = round_up(std::max<std::size_t>(1, imports_.size()) * kStubWords * 4);
    void* page =
        mmap(nullptr, stubs_size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) {
        fatal("cannot map the import stubs");
    }
    auto* words = static_cast<std::uint32_t*>(page);
    for (std::size_t i = 0; i < imports_.size(); ++i) {
        std::uint32_t* stub = words + i * kStubWords;
        stub[0] = kLdrIpFromPc;
        stub[1] = kLdrPcFromPc;
        stub[2] = static_cast<std::uint32_t>(
            reinterpret_cast<std::uintptr_t>(imports_[i].function->code));
        stub[3] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&corvane_ce_import));
    }
    if (mprotect(page, stubs_size_, PROT_READ | PROT_EXEC) != 0) {
        fatal("cannot protect the import stubs");
    }
    __builtin___clear_cache(static_cast<char*>(page), static_cast<char*>(page) + stubs_size_);
    stubs_ = page;
#endif
}

LoadedImage::~LoadedImage() {
    if (g_mapped == this) {
        unmap_region();
        g_mapped = nullptr;
    }
    if (stubs_ != nullptr) {
        munmap(stubs_, stubs_size_);
    }
}

void LoadedImage::map_region() {
    void* want = reinterpret_cast<void*>(static_cast<std::uintptr_t>(base_));
    void* got = mmap(want, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (got != want) {
        if (got != MAP_FAILED) {
            munmap(got, span_);
        }
        fatal("cannot map the image at " + hex(base_) + ": the address range is taken");
    }
    mapped_ = true;
}

void LoadedImage::unmap_region() {
    if (mapped_) {
        munmap(reinterpret_cast<void*>(static_cast<std::uintptr_t>(base_)), span_);
        mapped_ = false;
    }
}

void LoadedImage::load() {
    if (g_mapped != this) {
        if (g_mapped != nullptr) {
            g_mapped->unmap_region();
        }
        map_region();
        g_mapped = this;
    }
    auto* bytes = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(base_));
    if (mprotect(bytes, span_, PROT_READ | PROT_WRITE) != 0) {
        fatal("cannot unprotect the image to load it");
    }
    std::memset(bytes, 0, span_);
    for (const PeSection& s : image_.sections) {
        std::memcpy(bytes + s.virtual_address, s.data.data(), s.data.size());
    }
    const auto* stubs = static_cast<const std::uint32_t*>(stubs_);
    for (std::size_t i = 0; i < imports_.size(); ++i) {
        const auto stub =
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(stubs + i * kStubWords));
        std::memcpy(bytes + imports_[i].iat_rva, &stub, sizeof stub);
    }
    protect();
}

void LoadedImage::protect() {
    auto* bytes = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(base_));
    // The loader maps sections only: the headers' pages, and whatever no
    // section covers, are no memory of the process.
    if (mprotect(bytes, span_, PROT_NONE) != 0) {
        fatal("cannot protect the image");
    }
    for (const PeSection& s : image_.sections) {
        const std::uint32_t size = round_up(s.virtual_size);
        if (size > 0 &&
            mprotect(bytes + s.virtual_address, size, protection(s.characteristics)) != 0) {
            fatal("cannot protect section " + s.name);
        }
    }
    __builtin___clear_cache(reinterpret_cast<char*>(bytes), reinterpret_cast<char*>(bytes) + span_);
#if defined(__arm__)
    std::vector<arm_trap::ImageSection> sections;
    for (const PeSection& s : image_.sections) {
        sections.push_back(
            {s.name, base_ + s.virtual_address, base_ + s.virtual_address + s.virtual_size,
             (s.characteristics & pe::kScnWrite) != 0, (s.characteristics & pe::kScnExecute) != 0});
    }
    arm_trap::watch_image(base_, base_ + span_, std::move(sections));
#endif
}

bool LoadedImage::is_code(std::uint32_t address) const {
    if (address < base_) {
        return false;
    }
    const PeSection* s = image_.section_at(address - base_);
    return s != nullptr && (s->characteristics & pe::kScnExecute) != 0;
}

std::uint32_t LoadedImage::call(std::uint32_t address, const char* what,
                                std::initializer_list<std::uint32_t> args) const {
    if (!is_code(address)) {
        program_fault(std::string(what) + " " + hex(address) + " is not code of the image");
    }
#if defined(__arm__)
    return ce::call_image(address, args);
#else
    (void)args;
    fatal("the image's code runs in the ARM lane only");
#endif
}

ProgramImage LoadedImage::program(HINSTANCE instance, std::uint32_t state_rva,
                                  const StateRecordLayout& state) {
    auto word = [](const void* p) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
    };
    std::shared_ptr<LoadedImage> self = shared_from_this();
    ProgramImage p;
    p.instance = instance;
    p.image_base = base_;
    p.load = [self] { self->load(); };
    p.entry = [self, word](HINSTANCE hinstance) {
        return static_cast<int>(self->call(self->base_ + self->image_.entry_point, "the entry",
                                           {word(hinstance), 0, word(kNoCommandLine), SW_SHOW}));
    };
    p.dialog_proc = [self, word](DLGPROC proc, HWND hwnd, UINT message, WPARAM w, LPARAM l) {
        return static_cast<BOOL>(self->call(
            code_address(proc), "the dialog procedure",
            {word(hwnd), message, static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(l)}));
    };
    p.thread_routine = [self, word](LPTHREAD_START_ROUTINE routine, LPVOID parameter) {
        return static_cast<DWORD>(
            self->call(code_address(routine), "the thread routine", {word(parameter)}));
    };
    p.inspect = [self, state_rva, fields = state.fields] {
        std::vector<StateField> record;
        const auto* at = reinterpret_cast<const std::uint8_t*>(
            static_cast<std::uintptr_t>(self->base_ + state_rva));
        for (const auto& f : fields) {
            std::uint32_t v = 0;
            std::memcpy(&v, at + f.offset, sizeof v);
            record.push_back({f.name, f.is_signed ? std::int64_t{static_cast<std::int32_t>(v)}
                                                  : std::int64_t{v}});
        }
        return record;
    };
    return p;
}

}  // namespace sim
