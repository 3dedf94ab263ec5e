// Direct hardware access as the simulated PXA25x provides it.
//
// On the device the program reaches the clocks manager through a physical
// mapping and coprocessor 14 with MRC/MCR instructions. On the host the
// register accessors below look the address up in the simulated mappings,
// and stand-ins take the place of the instructions the host does not have.
#ifndef CORVANE_SIMULATOR_HARDWARE_HWAPI_H
#define CORVANE_SIMULATOR_HARDWARE_HWAPI_H

#include "simulator/wince/winapi.h"

// Uncached register access through a mapping (the CE DDK's accessors). What
// the device would fault on (no mapping, a released one, a store through a
// read-only one, misaligned, past the mapping) ends the run as a program
// fault. The host page under a mapping has no access, so a plain pointer
// access that bypasses these faults as well.
ULONG READ_REGISTER_ULONG(PULONG reg);
void WRITE_REGISTER_ULONG(PULONG reg, ULONG value);

// Stand-ins for "mrc pCP, opc1, Rd, CRn, CRm, opc2" and its "mcr" twin.
DWORD SimCoprocessorRead(int coprocessor, int opcode1, int crn, int crm, int opcode2);
void SimCoprocessorWrite(int coprocessor, int opcode1, DWORD value, int crn, int crm, int opcode2);

#endif
