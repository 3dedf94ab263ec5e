#include "simulator/hardware/pxa25x_clocks.h"

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

std::uint32_t Pxa25xClocks::cccr() const {
    return load_register(kCccrOffset);
}

double Pxa25xClocks::core_mhz() const {
    const auto rates = clock_rates(applied_cccr_);
    if (!rates) {
        return 0;
    }
    return turbo() ? rates->turbo_mhz : rates->run_mhz;
}

std::string Pxa25xClocks::frequency_change() {
    const std::uint32_t word = cccr();
    if (!clock_rates(word)) {
        return "frequency change refused: reserved code in CCCR";
    }
    applied_cccr_ = word;
    return {};
}

void Pxa25xClocks::note_cccr_store(Millis t, std::uint32_t value, const std::string& thread) {
    // The store itself went through the program's mapping; the clocks take
    // it over only at the next frequency change.
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
