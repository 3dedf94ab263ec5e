@ The seam between a loaded Windows CE image and the simulator, both ARM
@ code on the emulated PXA255 but under two procedure call standards.
@
@ Windows CE on ARM passes the first four words in r0-r3 and the rest on
@ the stack, keeps r4-r11 for the callee and returns in r0, as AAPCS does,
@ but keeps the stack aligned to 4 bytes only; the simulator, built for
@ ARM Linux (AAPCS), may assume 8 at every call. So:
@  - corvane_ce_call enters the image as the device does, on a stack that
@    is aligned to 4 and deliberately not to 8: code in the image that
@    relied on more would fail here as it would on the device;
@  - corvane_ce_import is where every bound import of the image lands: it
@    realigns the stack to 8 for the simulator's function, passes the
@    arguments on, and records the image's return address for the trace.

        .syntax unified
        .arm
        .text

@ uint32_t corvane_ce_call(uint32_t routine, const uint32_t* args, uint32_t count)
@ Calls `routine` with args[0..count) (args holds at least four words).
        .global corvane_ce_call
        .type   corvane_ce_call, %function
        .align  2
corvane_ce_call:
        push    {r4, r5, r6, lr}
        mov     r4, sp                  @ this frame, restored after the call
        mov     r12, r0                 @ the routine
        mov     r5, r1                  @ the arguments
        subs    r6, r2, #4              @ how many go on the stack
        movlt   r6, #0
        sub     sp, sp, r6, lsl #2
        bic     sp, sp, #7
        sub     sp, sp, #4              @ aligned to 4, not to 8
        mov     r0, #0
1:      cmp     r0, r6
        bge     2f
        add     r1, r0, #4
        ldr     r2, [r5, r1, lsl #2]
        str     r2, [sp, r0, lsl #2]
        add     r0, r0, #1
        b       1b
2:      ldm     r5, {r0-r3}
        blx     r12
        mov     sp, r4
        pop     {r4, r5, r6, pc}
        .size   corvane_ce_call, . - corvane_ce_call

@ Entered from an import's stub with r12 = the simulator's function and
@ lr = the return address in the image; r0-r3 and the caller's stack hold
@ the arguments. Up to four stack arguments are passed on (no platform
@ function the simulator exports takes more than eight words).
        .global corvane_ce_import
        .type   corvane_ce_import, %function
        .align  2
corvane_ce_import:
        push    {r4, r5, r6, lr}        @ the caller's stack arguments now at r4 + 16
        mov     r4, sp
        ldr     r5, =corvane_ce_caller
        str     lr, [r5]                @ read by the function before anything else
        sub     sp, sp, #16
        bic     sp, sp, #7              @ AAPCS: 8-byte aligned at the call
        ldr     r5, [r4, #16]
        str     r5, [sp]
        ldr     r5, [r4, #20]
        str     r5, [sp, #4]
        ldr     r5, [r4, #24]
        str     r5, [sp, #8]
        ldr     r5, [r4, #28]
        str     r5, [sp, #12]
        blx     r12
        mov     sp, r4
        pop     {r4, r5, r6, pc}
        .ltorg
        .size   corvane_ce_import, . - corvane_ce_import

        .data
        .align  2
        .global corvane_ce_caller
corvane_ce_caller:
        .word   0

        .section .note.GNU-stack, "", %progbits
