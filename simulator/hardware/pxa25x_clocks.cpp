#include "simulator/hardware/pxa25x_clocks.h"

#include "simulator/support/hex.h"

namespace sim {

namespace {
constexpr std::size_t kHistoryBound = 100000;
}  // namespace

CccrFields cccr_fields(std::uint32_t cccr) {
    return CccrFields{cccr & 0x1F, (cccr >> 5) & 0x3, (cccr >> 7) & 0x7};
}

std::optional<ClockRates> clock_rates(std::uint32_t cccr) {
    static constexpr unsigned kLFactors[] = {0, 27, 32, 36, 40, 45};
    static constexpr unsigned kMFactors[] = {0, 1, 2, 4};
    const auto f = cccr_fields(cccr);
    if (f.l < 1 || f.l > 5 || f.m < 1 || f.m > 3 || f.n < 2 || f.n > 6) {
        return std::nullopt;
    }
    ClockRates r;
    r.memory_mhz = kCrystalMhz * kLFactors[f.l];
    r.run_mhz = r.memory_mhz * kMFactors[f.m];
    r.turbo_mhz = r.run_mhz * f.n / 2.0;
    return r;
}

std::optional<ClockRates> pxa27x_clock_rates(std::uint32_t cccr) {
    constexpr double kOscillatorMhz = 13.0;
    const unsigned l = cccr & 0x1F;
    const unsigned n2 = (cccr >> 7) & 0xF;
    if (l < 2 || n2 < 2 || n2 > 6) {
        return std::nullopt;
    }
    ClockRates r;
    r.run_mhz = kOscillatorMhz * l;
    r.memory_mhz = r.run_mhz;
    r.turbo_mhz = r.run_mhz * n2 / 2.0;
    return r;
}

const char* to_string(ClockEvent::Kind kind) {
    switch (kind) {
        case ClockEvent::Kind::Reset:
            return "reset";
        case ClockEvent::Kind::CccrStore:
            return "cccr-store";
        case ClockEvent::Kind::CclkcfgWrite:
            return "cclkcfg-write";
        case ClockEvent::Kind::SleepResume:
            return "sleep-resume";
        case ClockEvent::Kind::ForeignCccr:
            return "foreign-cccr";
        case ClockEvent::Kind::ForeignTurboOff:
            return "foreign-turbo-off";
    }
    return "?";
}

Pxa25xClocks::Pxa25xClocks() {
    store_register(kCccrOffset, kCccrReset);
    store_register(kCkenOffset, kCkenReset);
    store_register(kOsccOffset, 0);
    record(0, ClockEvent::Kind::Reset, 0, "");
}

void Pxa25xClocks::store_register(std::uint32_t offset, std::uint32_t value) {
    __atomic_store_n(&page_[offset / 4], value, __ATOMIC_SEQ_CST);
}

std::uint32_t Pxa25xClocks::load_register(std::uint32_t offset) const {
    return __atomic_load_n(&page_[offset / 4], __ATOMIC_SEQ_CST);
}

void Pxa25xClocks::set_hardware(ClockHardware hardware) {
    hardware_ = hardware;
    // What the page holds at reset: the PXA27x's CCCR, or nothing of a
    // clocks manager (the SA-1110's static memory bank reads as zeros here).
    const std::uint32_t cccr = hardware == ClockHardware::Pxa25x   ? kCccrReset
                               : hardware == ClockHardware::Pxa27x ? kPxa27xCccrReset
                                                                   : 0;
    store_register(kCccrOffset, cccr);
    store_register(kCkenOffset, hardware == ClockHardware::None ? 0 : kCkenReset);
    applied_cccr_ = cccr;
    history_.clear();
    record(0, ClockEvent::Kind::Reset, 0, "");
}

std::optional<ClockRates> Pxa25xClocks::rates(std::uint32_t cccr) const {
    switch (hardware_) {
        case ClockHardware::Pxa25x:
            return clock_rates(cccr);
        case ClockHardware::Pxa27x:
            return pxa27x_clock_rates(cccr);
        case ClockHardware::None:
            break;
    }
    return std::nullopt;
}

std::uint32_t Pxa25xClocks::cccr() const {
    return load_register(kCccrOffset);
}

double Pxa25xClocks::core_mhz() const {
    const auto r = rates(applied_cccr_);
    if (!r) {
        return 0;
    }
    return turbo() ? r->turbo_mhz : r->run_mhz;
}

std::string Pxa25xClocks::frequency_change() {
    const std::uint32_t word = cccr();
    if (!rates(word)) {
        if (hardware_ == ClockHardware::Pxa27x) {
            faults_.push_back("frequency change to CCCR " + hex(word) +
                              ", a setting the PXA27x reserves (L " + std::to_string(word & 0x1F) +
                              ", 2N " + std::to_string((word >> 7) & 0xF) + ")");
        }
        return "frequency change refused: reserved code in CCCR";
    }
    applied_cccr_ = word;
    return {};
}

void Pxa25xClocks::note_cccr_store(Millis t, std::uint32_t value, const std::string& thread) {
    // The store itself went through the program's mapping; the clocks take
    // it over only at the next frequency change.
    if (hardware_ == ClockHardware::None) {
        faults_.push_back("store of " + hex(value) +
                          " to physical 0x41300000, which on this processor is no clocks "
                          "manager (the SA-1110's static memory bank 4, nCS4)");
    }
    record(t, ClockEvent::Kind::CccrStore, value, thread);
}

void Pxa25xClocks::write_cclkcfg(Millis t, std::uint32_t value, const std::string& thread) {
    cclkcfg_ = value & (kCclkcfgTurbo | kCclkcfgFcs);
    std::string note;
    if (value & kCclkcfgFcs) {
        note = frequency_change();
    }
    record(t, ClockEvent::Kind::CclkcfgWrite, value, thread, std::move(note));
}

void Pxa25xClocks::sleep_and_resume(Millis t) {
    // Coming out of sleep the clocks start from CCCR in run mode.
    cclkcfg_ = 0;
    std::string note = frequency_change();
    record(t, ClockEvent::Kind::SleepResume, 0, "", std::move(note));
}

void Pxa25xClocks::foreign_program(Millis t, std::uint32_t word) {
    store_register(kCccrOffset, word);
    cclkcfg_ = kCclkcfgTurbo | kCclkcfgFcs;
    std::string note = frequency_change();
    record(t, ClockEvent::Kind::ForeignCccr, word, "", std::move(note));
}

void Pxa25xClocks::foreign_turbo_off(Millis t) {
    cclkcfg_ &= ~kCclkcfgTurbo;
    record(t, ClockEvent::Kind::ForeignTurboOff, 0, "");
}

void Pxa25xClocks::record(Millis t, ClockEvent::Kind kind, std::uint32_t value,
                          const std::string& thread, std::string note) {
    if (history_.size() >= kHistoryBound) {
        history_.pop_front();
    }
    history_.push_back(
        ClockEvent{t, kind, value, cccr(), cclkcfg_, core_mhz(), thread, std::move(note)});
    ++events_recorded_;
}

}  // namespace sim
