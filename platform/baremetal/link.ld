/* The bare-metal image in the PXA270's SDRAM (0xA0000000, 64 MB on the
   mainstone), loaded by QEMU from the ELF file. */
ENTRY(pelmok_reset)

MEMORY
{
  ram (rwx) : ORIGIN = 0xA0100000, LENGTH = 47M
}

SECTIONS
{
  .vectors : { KEEP(*(.vectors)) } > ram
  .text : { *(.text*) *(.glue_7*) *(.vfp11_veneer) *(.v4_bx) } > ram
  .rodata : { *(.rodata*) } > ram
  .ARM.extab : { *(.ARM.extab* .gnu.linkonce.armextab.*) } > ram
  .ARM.exidx : { __exidx_start = .; *(.ARM.exidx*) __exidx_end = .; } > ram
  .init_array : {
    __init_array_start = .;
    KEEP(*(SORT(.init_array.*)))
    KEEP(*(.init_array))
    __init_array_end = .;
  } > ram
  .preinit_array : { __preinit_array_start = .; KEEP(*(.preinit_array)) __preinit_array_end = .; } > ram
  .fini_array : { __fini_array_start = .; KEEP(*(.fini_array)) __fini_array_end = .; } > ram
  .data : { *(.data*) } > ram
  .bss (NOLOAD) : {
    . = ALIGN(4);
    __bss_start__ = .;
    *(.bss*) *(COMMON)
    . = ALIGN(4);
    __bss_end__ = .;
  } > ram
  . = ALIGN(8);
  end = .;
  __end__ = .;
  /* Heap from `end` up; the stacks at the top of the image's RAM. */
  __abort_stack_top = ORIGIN(ram) + LENGTH(ram);
  __stack_top = __abort_stack_top - 0x4000;
}
