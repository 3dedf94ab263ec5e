#include "clock/clock_registers.h"

#include "clock/coprocessor.h"

// With PAGE_PHYSICAL, VirtualCopy takes the physical address divided by 256.
#define CCCR_PHYSICAL_PAGE_ARG ((LPVOID)(CCCR_PHYSICAL_ADDRESS >> 8))
#define CCCR_READ_ACCESS (PAGE_READONLY | PAGE_NOCACHE | PAGE_PHYSICAL)    // 0x602
#define CCCR_WRITE_ACCESS (PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL)  // 0x604

// Reserves a one-register range and maps the CCCR into it with the given
// access. Returns the register's address, or NULL; *range receives the
// reservation (possibly NULL), which the caller releases on every path.
static PULONG MapClockConfig(DWORD access, LPVOID* range) {
    *range = VirtualAlloc(NULL, sizeof(ULONG), MEM_RESERVE, PAGE_NOACCESS);
    if (!VirtualCopy(*range, CCCR_PHYSICAL_PAGE_ARG, sizeof(ULONG), access)) {
        return NULL;
    }
    return (PULONG)*range;
}

static void ReleaseRange(LPVOID range) {
    if (range != NULL) {
        VirtualFree(range, 0, MEM_RELEASE);
    }
}

DWORD ReadClockConfig(void) {
    LPVOID range;
    PULONG cccr = MapClockConfig(CCCR_READ_ACCESS, &range);
    DWORD word = CLOCK_READ_FAILED;
    if (cccr != NULL) {
        word = READ_REGISTER_ULONG(cccr);
    }
    ReleaseRange(range);
    return word;
}

int WriteClockConfig(DWORD cccrWord) {
    LPVOID range;
    PULONG cccr = MapClockConfig(CCCR_WRITE_ACCESS, &range);
    int result = CLOCK_WRITE_FAILED;
    if (cccr != NULL) {
        // The store and the trigger belong together: the frequency change
        // takes over whatever the CCCR holds, so nothing may come between.
        WRITE_REGISTER_ULONG(cccr, cccrWord);
        result = TriggerFrequencyChange();
    }
    ReleaseRange(range);
    return result;
}

int TriggerFrequencyChange(void) {
    WriteCclkcfg(CCLKCFG_TURBO | CCLKCFG_FCS);
    return 1;
}

DWORD ReadClockMode(void) {
    return ReadCclkcfg();
}
