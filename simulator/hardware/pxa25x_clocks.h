// The PXA25x clocks manager: CCCR (memory-mapped at 0x41300000) and the
// coprocessor 14 register CCLKCFG.
//
// The clocks manager's registers live in one page of the model, which the
// simulated VirtualCopy maps for the program: its READ_REGISTER_ULONG and
// WRITE_REGISTER_ULONG through that mapping reach this page. CCLKCFG is
// reached through the coprocessor instructions.
//
// Decoding follows the processor manual: crystal 3.6864 MHz; memory clock =
// crystal x L factor (codes 1..5: 27, 32, 36, 40, 45); run clock = memory
// clock x M factor (codes 1..3: 1, 2, 4); turbo clock = run clock x N / 2
// (codes 2..6; code 5, x2.5, is reserved in the manual but works). Writing
// CCLKCFG with FCS set performs the frequency change: the clocks take over
// what CCCR holds. TURBO selects the turbo clock. FCS reads back as written.
// Sleep and resume keep CCCR, apply it, and clear TURBO and FCS.
#ifndef CORVANE_SIMULATOR_HARDWARE_PXA25X_CLOCKS_H
#define CORVANE_SIMULATOR_HARDWARE_PXA25X_CLOCKS_H

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "simulator/hardware/processor.h"
#include "simulator/kernel/kernel.h"

namespace sim {

constexpr std::uint32_t kClocksManagerBase = 0x41300000;
constexpr std::uint32_t kCccrOffset = 0x0;
constexpr std::uint32_t kCkenOffset = 0x4;
constexpr std::uint32_t kOsccOffset = 0x8;
constexpr std::uint32_t kCccrReset = 0x121;
constexpr std::uint32_t kCkenReset = 0x17DEF;
constexpr std::uint32_t kCclkcfgTurbo = 0x1;
constexpr std::uint32_t kCclkcfgFcs = 0x2;
constexpr double kCrystalMhz = 3.6864;

struct CccrFields {
    unsigned l = 0, m = 0, n = 0;
};
CccrFields cccr_fields(std::uint32_t cccr);

// The clocks a CCCR word selects on the PXA25x, or nullopt when L, M or N
// is a code the processor does not take.
struct ClockRates {
    double memory_mhz = 0;
    double run_mhz = 0;
    double turbo_mhz = 0;
};
std::optional<ClockRates> clock_rates(std::uint32_t cccr);

// The PXA27x's CCCR at the same address: a run-mode multiplier L in bits 4:0
// over a 13 MHz oscillator, a turbo multiplier 2N in bits 10:7 (turbo = run
// x 2N / 2) and the alternate memory-clock bit A (25). The settings the
// processor takes are L 2 to 31 and 2N 2 to 6 (the developer's manual's
// CCCR table; Linux's PXA27x tables use L 8 and 16 with 2N 2 to 6); others,
// the L of 1 that every PXA25x word has among them, are reserved, and a
// frequency change to one is refused here and recorded as a fault. The
// reset value is L 8, 2N 2 (104 MHz run and turbo).
constexpr std::uint32_t kPxa27xCccrReset = 0x108;
std::optional<ClockRates> pxa27x_clock_rates(std::uint32_t cccr);

// One change of the clock hardware, for the record and the plot.
struct ClockEvent {
    enum class Kind {
        Reset,         // power on
        CccrStore,     // the program stored a CCCR word
        CclkcfgWrite,  // the program wrote CCLKCFG
        SleepResume,   // power down and up again
        ForeignCccr,   // another program programmed CCCR (with FCS and TURBO)
        ForeignTurboOff,
    };
    Millis t = 0;
    Kind kind = Kind::Reset;
    std::uint32_t value = 0;  // the word stored or written, where there is one
    std::uint32_t cccr = 0;   // the register values after the event
    std::uint32_t cclkcfg = 0;
    double core_mhz = 0;
    std::string thread;  // the program thread, or "" for the outside world
    std::string note;    // e.g. why a frequency change was refused
};
const char* to_string(ClockEvent::Kind kind);

class Pxa25xClocks {
  public:
    // The clocks manager of a PXA25x; set_hardware makes it another
    // processor's, before the program runs.
    Pxa25xClocks();
    void set_hardware(ClockHardware hardware);
    ClockHardware hardware() const { return hardware_; }
    Pxa25xClocks(const Pxa25xClocks&) = delete;
    Pxa25xClocks& operator=(const Pxa25xClocks&) = delete;

    // The register page, for mappings: what the program stores through one
    // lands here, and the clocks take it over at the next frequency change.
    static constexpr std::size_t kPageSize = 4096;
    std::uint32_t* page() { return page_.data(); }

    std::uint32_t cccr() const;
    std::uint32_t cclkcfg() const { return cclkcfg_; }
    bool turbo() const { return (cclkcfg_ & kCclkcfgTurbo) != 0; }
    // The CCCR word the clocks now run from (taken over at the last change).
    std::uint32_t applied_cccr() const { return applied_cccr_; }
    double core_mhz() const;

    // The program's accesses.
    void note_cccr_store(Millis t, std::uint32_t value, const std::string& thread);
    void write_cclkcfg(Millis t, std::uint32_t value, const std::string& thread);

    // The world around the program.
    void sleep_and_resume(Millis t);
    void foreign_program(Millis t, std::uint32_t cccr);
    void foreign_turbo_off(Millis t);

    // What the program did to hardware of another processor: a store to
    // what is no clocks manager, a frequency change to a setting the
    // processor reserves. Each says what and where.
    const std::vector<std::string>& faults() const { return faults_; }

    // Every change, oldest first (the oldest are dropped past a bound).
    const std::deque<ClockEvent>& history() const { return history_; }
    std::uint64_t events_recorded() const { return events_recorded_; }

  private:
    void store_register(std::uint32_t offset, std::uint32_t value);
    std::uint32_t load_register(std::uint32_t offset) const;
    std::string frequency_change();
    std::optional<ClockRates> rates(std::uint32_t cccr) const;
    void record(Millis t, ClockEvent::Kind kind, std::uint32_t value, const std::string& thread,
                std::string note = {});

    std::array<std::uint32_t, kPageSize / 4> page_{};
    std::uint32_t cclkcfg_ = 0;
    std::uint32_t applied_cccr_ = kCccrReset;
    std::deque<ClockEvent> history_;
    std::uint64_t events_recorded_ = 0;
    ClockHardware hardware_ = ClockHardware::Pxa25x;
    std::vector<std::string> faults_;
};

}  // namespace sim

#endif
