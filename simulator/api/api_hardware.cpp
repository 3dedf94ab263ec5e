// The program's direct hardware accesses: register loads and stores through
// its mappings, and the coprocessor instructions.
#include "simulator/api/cclkcfg_access.h"
#include "simulator/api/platform_call.h"
#include "simulator/hardware/hwapi.h"

using sim::PlatformCall;

// The register an access reaches through the program's mapping. What the
// device's MMU would fault on ends the run as a program fault.
// The fault names the address and, for a trapped instruction of a loaded
// image, where that instruction is.
static sim::VirtualMemory::Register mapped_register(PlatformCall& call, const void* reg, bool store,
                                                    sim::TrapAddress trapped_at) {
    const sim::VirtualMemory& memory = call.device().memory();
    auto found = memory.register_at(reg, store);
    if (!found.ok()) {
        std::string what = std::string(call.name()) + " at " +
                           sim::hex(reinterpret_cast<std::uintptr_t>(reg)) + " (" +
                           memory.name_of(reg) + ")";
        if (trapped_at) {
            what += " by the instruction at " + sim::hex(*trapped_at);
        }
        sim::program_fault(what + ": " + found.error().message);
    }
    return found.value();
}

// A register access as the trace shows it: with the physical address.
static void log_register(PlatformCall& call, sim::json args, sim::json result,
                         std::uint64_t physical, sim::TrapAddress trapped_at) {
    call.log(std::move(args), std::move(result), "physical " + sim::hex(physical), trapped_at);
}

namespace sim {

std::uint32_t read_register(PlatformCall& call, const void* reg, TrapAddress trapped_at) {
    const auto where = mapped_register(call, reg, false, trapped_at);
    const std::uint32_t value = __atomic_load_n(where.word, __ATOMIC_SEQ_CST);
    if (call.tracing()) {
        log_register(call, {call.device().memory().name_of(reg)}, hex(value), where.physical,
                     trapped_at);
    }
    return value;
}

void write_register(PlatformCall& call, const void* reg, std::uint32_t value,
                    TrapAddress trapped_at) {
    Device& device = call.device();
    const auto where = mapped_register(call, reg, true, trapped_at);
    __atomic_store_n(where.word, value, __ATOMIC_SEQ_CST);
    if (call.tracing()) {
        log_register(call, {device.memory().name_of(reg), hex(value)}, nullptr, where.physical,
                     trapped_at);
    }
    if (where.physical == kClocksManagerBase + kCccrOffset) {
        device.clocks().note_cccr_store(device.now(), value, device.thread_name(Kernel::current()));
    }
}

}  // namespace sim

ULONG READ_REGISTER_ULONG(PULONG reg) {
    PlatformCall call("READ_REGISTER_ULONG");
    return sim::read_register(call, reg, std::nullopt);
}

void WRITE_REGISTER_ULONG(PULONG reg, ULONG value) {
    PlatformCall call("WRITE_REGISTER_ULONG");
    sim::write_register(call, reg, value, std::nullopt);
}

namespace {
bool is_cclkcfg(int coprocessor, int opcode1, int crn, int crm, int opcode2) {
    return coprocessor == 14 && opcode1 == 0 && crn == 6 && crm == 0 && opcode2 == 0;
}

bool is_main_id(int coprocessor, int opcode1, int crn, int crm, int opcode2) {
    return coprocessor == 15 && opcode1 == 0 && crn == 0 && crm == 0 && opcode2 == 0;
}

// On a processor without CCLKCFG the instruction is undefined: a program
// fault, as the ARM lane reports it.
void require_cclkcfg(PlatformCall& call, const char* instruction) {
    if (const std::string why = sim::no_cclkcfg(call.device()); !why.empty()) {
        sim::program_fault(std::string("undefined instruction: ") + instruction +
                           " p14, 0, Rd, c6, c0, 0 (" + why + ")");
    }
}

// The access as the trace shows it: MRC/MCR's operands. Called only when
// tracing, so that the arguments are not built for nothing on every monitor
// pass.
void log_access(PlatformCall& call, sim::json args, sim::json result, sim::TrapAddress trapped_at) {
    call.log(std::move(args), std::move(result), "CCLKCFG", trapped_at);
}
}  // namespace

namespace sim {

std::string no_cclkcfg(const Device& device) {
    if (device.processor().clocks != ClockHardware::None) {
        return {};
    }
    return std::string("the ") + device.processor().label + " has no coprocessor 14 register 6";
}

std::uint32_t read_main_id(PlatformCall& call, TrapAddress trapped_at) {
    const std::uint32_t value = call.device().processor().main_id;
    if (call.tracing()) {
        call.log({"p15", 0, "c0", "c0", 0}, hex(value), "main ID", trapped_at);
    }
    return value;
}

std::uint32_t read_cclkcfg(PlatformCall& call, TrapAddress trapped_at) {
    require_cclkcfg(call, "mrc");
    const std::uint32_t value = call.device().clocks().cclkcfg();
    if (call.tracing()) {
        log_access(call, {"p14", 0, "c6", "c0", 0}, value, trapped_at);
    }
    return value;
}

void write_cclkcfg(PlatformCall& call, std::uint32_t value, TrapAddress trapped_at) {
    require_cclkcfg(call, "mcr");
    Device& device = call.device();
    device.clocks().write_cclkcfg(device.now(), value, device.thread_name(Kernel::current()));
    if (call.tracing()) {
        log_access(call, {"p14", 0, value, "c6", "c0", 0}, nullptr, trapped_at);
        device.emit(ClockNowEvent{device.clocks().history().back()});
    }
}

}  // namespace sim

DWORD SimCoprocessorRead(int coprocessor, int opcode1, int crn, int crm, int opcode2) {
    PlatformCall call("mrc");
    if (is_main_id(coprocessor, opcode1, crn, crm, opcode2)) {
        return sim::read_main_id(call, std::nullopt);
    }
    if (!is_cclkcfg(coprocessor, opcode1, crn, crm, opcode2)) {
        sim::program_fault("undefined instruction: mrc p" + std::to_string(coprocessor) +
                           " with a register the simulator does not model");
    }
    return sim::read_cclkcfg(call, std::nullopt);
}

void SimCoprocessorWrite(int coprocessor, int opcode1, DWORD value, int crn, int crm, int opcode2) {
    PlatformCall call("mcr");
    if (!is_cclkcfg(coprocessor, opcode1, crn, crm, opcode2)) {
        sim::program_fault("undefined instruction: mcr p" + std::to_string(coprocessor) +
                           " with a register the simulator does not model");
    }
    sim::write_cclkcfg(call, value, std::nullopt);
}
