// The SIGILL handler of the ARM lane (see arm_trap.h).
#include "simulator/api/arm_trap.h"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "simulator/api/cclkcfg_access.h"
#include "simulator/api/platform_call.h"
#include "simulator/support/result.h"

namespace sim::arm_trap {

namespace {

// Writes `text` to stderr without the C library's buffers. The signal
// handlers below report with this and end the run with std::abort(), not
// fatal(): a signal handler may make only async-signal-safe calls, and
// fatal() builds a std::string and writes through stdio.
void say(const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, left);
        if (n <= 0) {
            return;
        }
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

void put_hex(char* out, std::uint32_t value) {
    static const char digits[] = "0123456789abcdef";
    out[0] = '0';
    out[1] = 'x';
    for (int i = 0; i < 8; ++i) {
        out[2 + i] = digits[(value >> (28 - 4 * i)) & 0xF];
    }
    out[10] = '\0';
}

// Ends the run: the instruction is one the simulated PXA25x does not model.
[[noreturn]] void undefined_instruction(std::uint32_t word, std::uint32_t address,
                                        const char* why) {
    char w[11];
    char a[11];
    put_hex(w, word);
    put_hex(a, address);
    say("simulator: program fault: undefined instruction ");
    say(w);
    say(" at ");
    say(a);
    say(" (");
    say(why);
    say(")\n");
    std::abort();
}

// The register Rd of the interrupted context (r0..r14).
unsigned long& reg(mcontext_t& m, unsigned n) {
    switch (n) {
        case 0:
            return m.arm_r0;
        case 1:
            return m.arm_r1;
        case 2:
            return m.arm_r2;
        case 3:
            return m.arm_r3;
        case 4:
            return m.arm_r4;
        case 5:
            return m.arm_r5;
        case 6:
            return m.arm_r6;
        case 7:
            return m.arm_r7;
        case 8:
            return m.arm_r8;
        case 9:
            return m.arm_r9;
        case 10:
            return m.arm_r10;
        case 11:
            return m.arm_fp;
        case 12:
            return m.arm_ip;
        case 13:
            return m.arm_sp;
        default:
            return m.arm_lr;
    }
}

constexpr unsigned long kThumbBit = 1UL << 5;  // CPSR.T

void on_sigill(int, siginfo_t* info, void* context) {
    const int saved_errno = errno;
    auto* uc = static_cast<ucontext_t*>(context);
    mcontext_t& m = uc->uc_mcontext;
    const auto pc = static_cast<std::uint32_t>(m.arm_pc);
    if (info->si_code <= 0) {
        // Sent (kill, tgkill), not raised by an instruction.
        say("simulator: SIGILL sent to the process; no instruction to emulate\n");
        std::abort();
    }
    if (m.arm_cpsr & kThumbBit) {
        std::uint16_t half;
        std::memcpy(&half, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(pc)),
                    sizeof half);
        undefined_instruction(half, pc, "Thumb code");
    }
    std::uint32_t word;
    std::memcpy(&word, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(pc)), sizeof word);
    const auto access = decode(word);
    if (!access) {
        undefined_instruction(word, pc,
                              "not mrc/mcr p14, 0, Rd, c6, c0, 0 nor mrc p15, 0, Rd, c0, c0, 0");
    }
    if (Kernel::current() == nullptr) {
        undefined_instruction(word, pc, "CCLKCFG access outside a program thread");
    }
    try {
        PlatformCall call(access->read ? "mrc" : "mcr", NoPreemption{});
        if (access->main_id) {
            reg(m, access->rd) = read_main_id(call, pc);
        } else if (access->read) {
            reg(m, access->rd) = read_cclkcfg(call, pc);
        } else {
            write_cclkcfg(call, static_cast<std::uint32_t>(reg(m, access->rd)), pc);
        }
    } catch (...) {
        // Nothing may unwind out of a signal handler.
        undefined_instruction(word, pc, "the simulator failed emulating it");
    }
    m.arm_pc = pc + 4;
    errno = saved_errno;
}

// The loaded image whose faults the data-abort handler takes (watch_image).
struct WatchedImage {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    std::vector<ImageSection> sections;
};
WatchedImage g_image;

const ImageSection* image_section_at(std::uint32_t address) {
    for (const ImageSection& s : g_image.sections) {
        if (address >= s.begin && address < s.end) {
            return &s;
        }
    }
    return nullptr;
}

// Ends the run: the image's code faulted as it would on the device.
[[noreturn]] void image_fault(std::uint32_t word, std::uint32_t pc, std::uint32_t address,
                              const char* why, const char* where = nullptr) {
    char w[11];
    char p[11];
    char a[11];
    put_hex(w, word);
    put_hex(p, pc);
    put_hex(a, address);
    say("simulator: program fault: data abort at ");
    say(a);
    if (where != nullptr) {
        say(" in ");
        say(where);
    }
    say(" by instruction ");
    say(w);
    say(" at ");
    say(p);
    say(" (");
    say(why);
    say(")\n");
    std::abort();
}

// A fault this handler does not take: the default action, as if there were
// no handler (the instruction runs again and faults again).
void default_action(int signal_number) {
    signal(signal_number, SIG_DFL);
}

// Whether the program's own code runs on the faulting thread: a program
// thread in none of the simulator's frames (a platform call counts its
// frames; a callback into the program leaves them).
bool program_code_running() {
    const SimThread* t = Kernel::current();
    return t != nullptr && t->simulator_frames == 0;
}

// Ends the run: the program's code went where the device would abort it
// (its code jumped out of the image's code, into Thumb state, or touched
// memory it may not), reported with the PC, the address and the state.
[[noreturn]] void program_abort(const char* kind, std::uint32_t pc, std::uint32_t address,
                                bool thumb, const char* why) {
    char p[11];
    char a[11];
    put_hex(p, pc);
    put_hex(a, address);
    say("simulator: program fault: ");
    say(kind);
    say(" at ");
    say(a);
    say(" by the code at ");
    say(p);
    say(thumb ? " (Thumb state, " : " (ARM state, ");
    say(why);
    say(")\n");
    std::abort();
}

// The address the access computes from the interrupted registers.
std::uint32_t effective_address(mcontext_t& m, const WordAccess& a, std::uint32_t pc) {
    const std::uint32_t base = a.rn == 15 ? pc + 8 : static_cast<std::uint32_t>(reg(m, a.rn));
    const std::uint32_t offset =
        a.register_offset ? static_cast<std::uint32_t>(reg(m, a.rm_or_imm)) : a.rm_or_imm;
    return a.add ? base + offset : base - offset;
}

void on_sigsegv(int, siginfo_t* info, void* context) {
    const int saved_errno = errno;
    mcontext_t& m = static_cast<ucontext_t*>(context)->uc_mcontext;
    const auto pc = static_cast<std::uint32_t>(m.arm_pc);
    const auto address =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(info->si_addr));
    const ImageSection* code = image_section_at(pc);
    const bool thumb = (m.arm_cpsr & kThumbBit) != 0;
    if (info->si_code <= 0) {
        default_action(SIGSEGV);  // sent, not raised by an instruction
        return;
    }
    if (code == nullptr || !code->executable || thumb) {
        // Outside the image's code in ARM state: the program's code jumped
        // where the device would take a prefetch or data abort.
        if (program_code_running()) {
            program_abort(address == pc ? "prefetch abort" : "data abort", pc, address, thumb,
                          code == nullptr || !code->executable ? "outside the image's code"
                                                               : "in the image's code");
        }
        // A platform call's own work faulted on a program thread: it went
        // through an address the program handed it (a string, a record).
        if (const SimThread* t = Kernel::current(); t != nullptr && t->platform_call != nullptr) {
            char p[11];
            char a[11];
            put_hex(p, pc);
            put_hex(a, address);
            say("simulator: program fault: ");
            say(t->platform_call);
            say(" went through ");
            say(a);
            say(", an address the program handed it that it may not use (the fault at ");
            say(p);
            say(", in the simulator's handling of the call)\n");
            std::abort();
        }
        default_action(SIGSEGV);
        return;
    }
    std::uint32_t word;
    std::memcpy(&word, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(pc)), sizeof word);
    if (address >= g_image.begin && address < g_image.end) {
        const ImageSection* target = image_section_at(address);
        image_fault(word, pc, address, "the image's pages do not allow this access",
                    target != nullptr ? target->name.c_str() : "the image's headers");
    }
    const auto access = decode_word_access(word);
    if (!access) {
        image_fault(word, pc, address, "not a 32-bit load or store the device's registers take");
    }
    if (effective_address(m, *access, pc) != address || Kernel::current() == nullptr) {
        image_fault(word, pc, address, "an access the simulator cannot replay");
    }
    void* target = reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
    try {
        PlatformCall call(access->load ? "ldr" : "str", NoPreemption{});
        if (access->load) {
            reg(m, access->rd) = read_register(call, target, pc);
        } else {
            write_register(call, target, static_cast<std::uint32_t>(reg(m, access->rd)), pc);
        }
    } catch (...) {
        image_fault(word, pc, address, "the simulator failed performing it");
    }
    m.arm_pc = pc + 4;
    errno = saved_errno;
}

}  // namespace

std::optional<CclkcfgAccess> decode(std::uint32_t word) {
    // cond=AL 1110 opc1=000 L CRn=0110 Rd cp=1110 opc2=000 1 CRm=0000
    constexpr std::uint32_t kMask = 0xFFEF0FFF;  // all but L (bit 20) and Rd
    constexpr std::uint32_t kMcr = 0xEE060E10;   // mcr p14, 0, r0, c6, c0, 0
    // cond=AL 1110 opc1=000 1 CRn=0000 Rd cp=1111 opc2=000 1 CRm=0000
    constexpr std::uint32_t kMainIdMask = 0xFFFF0FFF;  // all but Rd
    constexpr std::uint32_t kMrcMainId = 0xEE100F10;   // mrc p15, 0, r0, c0, c0, 0
    const unsigned rd = (word >> 12) & 0xF;
    if (rd == 15) {
        return std::nullopt;  // to the flags / from the PC: not a register access
    }
    if ((word & kMainIdMask) == kMrcMainId) {
        return CclkcfgAccess{true, rd, true};
    }
    if ((word & kMask) != kMcr) {
        return std::nullopt;
    }
    return CclkcfgAccess{(word & (1U << 20)) != 0, rd, false};
}

std::optional<WordAccess> decode_word_access(std::uint32_t word) {
    // cond 01 I P U B W L Rn Rd offset: a word (B = 0), offset addressing
    // (P = 1, W = 0), with an immediate or an unshifted register offset.
    const bool immediate = (word & (1U << 25)) == 0;
    if ((word >> 28) == 0xF || ((word >> 26) & 3) != 1 || (word & (1U << 24)) == 0 ||
        (word & (1U << 22)) != 0 || (word & (1U << 21)) != 0 ||
        (!immediate && (word & 0xFF0) != 0)) {
        return std::nullopt;
    }
    const unsigned rd = (word >> 12) & 0xF;
    if (rd == 15) {
        return std::nullopt;
    }
    return WordAccess{(word & (1U << 20)) != 0,
                      rd,
                      (word >> 16) & 0xF,
                      !immediate,
                      immediate ? (word & 0xFFF) : (word & 0xF),
                      (word & (1U << 23)) != 0};
}

// Installs `handler` for `signal`, for the whole process.
static void take_signal(int signal, void (*handler)(int, siginfo_t*, void*), const char* what) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (sigaction(signal, &action, nullptr) != 0) {
        fatal(std::string("cannot install the ") + what);
    }
}

// A misaligned or impossible access (qemu raises SIGBUS for some): the
// program's, reported as the device's alignment abort; anything else the
// default action.
void on_sigbus(int, siginfo_t* info, void* context) {
    mcontext_t& m = static_cast<ucontext_t*>(context)->uc_mcontext;
    const auto pc = static_cast<std::uint32_t>(m.arm_pc);
    const auto address =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(info->si_addr));
    if (info->si_code > 0 && program_code_running()) {
        program_abort("alignment or bus abort", pc, address, (m.arm_cpsr & kThumbBit) != 0,
                      "an access the device's bus refuses");
    }
    default_action(SIGBUS);
}

void watch_image(std::uint32_t begin, std::uint32_t end, std::vector<ImageSection> sections) {
    static std::once_flag once;
    std::call_once(once, [] {
        take_signal(SIGSEGV, on_sigsegv, "data-abort trap");
        take_signal(SIGBUS, on_sigbus, "bus-error trap");
    });
    g_image = WatchedImage{begin, end, std::move(sections)};
}

void install() {
    static std::once_flag once;
    std::call_once(once, [] { take_signal(SIGILL, on_sigill, "coprocessor trap"); });
}

}  // namespace sim::arm_trap
