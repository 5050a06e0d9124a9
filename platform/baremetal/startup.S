@ Reset and exception entry of the bare-metal PXA270 image. The vector page
@ is mapped at 0xFFFF0000 (high vectors) once the MMU is on, so address 0
@ stays unmapped and a null window faults like any unbound page.
        .syntax unified
        .arm

        .section .vectors, "ax"
        .balign 4096
        .global pelmok_vectors
pelmok_vectors:
        ldr     pc, =pelmok_reset
        ldr     pc, =pelmok_undefined_entry
        ldr     pc, =pelmok_swi_entry
        ldr     pc, =pelmok_prefetch_abort_entry
        ldr     pc, =pelmok_data_abort_entry
        b       .
        b       .               @ IRQ: none are enabled
        b       .               @ FIQ: none are enabled
        .ltorg

        .text
        .global pelmok_reset
pelmok_reset:
        @ Stacks for the abort and undefined modes, then stay in SVC mode.
        msr     cpsr_c, #0xD7           @ abort mode, interrupts off
        ldr     sp, =__abort_stack_top
        msr     cpsr_c, #0xDB           @ undefined mode
        ldr     sp, =__abort_stack_top
        msr     cpsr_c, #0xD3           @ supervisor mode
        ldr     sp, =__stack_top
        @ Zero .bss.
        ldr     r0, =__bss_start__
        ldr     r1, =__bss_end__
        mov     r2, #0
1:      cmp     r0, r1
        strlo   r2, [r0], #4
        blo     1b
        bl      PelmokStartMmu
        bl      PelmokStart             @ never returns

pelmok_data_abort_entry:
        sub     r1, lr, #8              @ the instruction that faulted
        mrc     p15, 0, r0, c6, c0, 0   @ FAR: the address
        mrc     p15, 0, r2, c5, c0, 0   @ FSR: the status
        bl      PelmokDataAbort         @ never returns

pelmok_prefetch_abort_entry:
        sub     r0, lr, #4
        bl      PelmokPrefetchAbort

pelmok_undefined_entry:
        sub     r0, lr, #4
        bl      PelmokUndefined

pelmok_swi_entry:
        sub     r0, lr, #4
        bl      PelmokUndefined
