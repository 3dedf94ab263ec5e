// Access to the PXA25x clock hardware: the memory-mapped CCCR and the
// coprocessor register CCLKCFG. Stateless; safe on any thread.
#ifndef CORVANE_CLOCK_CLOCK_REGISTERS_H
#define CORVANE_CLOCK_CLOCK_REGISTERS_H

#include "platform/platform.h"

#define CCCR_PHYSICAL_ADDRESS 0x41300000UL
#define CLOCK_READ_FAILED 0xFFFFFFFFUL  // ReadClockConfig without a mapping
#define CLOCK_WRITE_FAILED (-1)         // WriteClockConfig without a mapping

// The CCCR word, or CLOCK_READ_FAILED when the register cannot be mapped.
DWORD ReadClockConfig(void);

// Stores the word in the CCCR and starts the frequency change: 1, or
// CLOCK_WRITE_FAILED (nothing written, nothing started) when the register
// cannot be mapped.
int WriteClockConfig(DWORD cccrWord);

// Writes TURBO | FCS to CCLKCFG; always 1.
int TriggerFrequencyChange(void);

// The whole CCLKCFG word.
DWORD ReadClockMode(void);

#endif
