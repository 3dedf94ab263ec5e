/* Links corvane.exe's image with GNU ld at the addresses the PE file gives
   it (tools/mkpe then writes the PE headers around the sections):

     0x10000  the image base; the first page holds the PE headers
     .text    code, the program's and the import stubs    read, execute
     .rdata   constants                                    read
     .data    data, then .bss as its uninitialised tail    read, write
     .idata   the import tables the loader fills in        read, write

   each section on a page of its own (section alignment 0x1000). The image
   has no base relocations and runs only at this address. The values here
   must agree with tools/pe/layout.h. */

ENTRY(WinMain)

SECTIONS
{
    . = 0x10000 + 0x1000;
    .text : {
        *(.text .text.*)
        *(.glue_7t) *(.glue_7) *(.vfp11_veneer) *(.v4_bx)
    }

    . = ALIGN(0x1000);
    .rdata : {
        *(.rodata .rodata.*)
    }

    . = ALIGN(0x1000);
    .data : {
        *(.data .data.*)
    }
    .bss : {
        *(.bss .bss.* COMMON)
    }

    . = ALIGN(0x1000);
    .idata : {
        KEEP(*(.idata))
    }

    /* Nothing else goes into the image: no unwind tables (the program has
       no exceptions), no notes or comments, no build attributes. */
    /DISCARD/ : {
        *(.ARM.exidx .ARM.exidx.*) *(.ARM.extab .ARM.extab.*)
        *(.comment) *(.note .note.*) *(.ARM.attributes)
        *(.init_array .init_array.* .fini_array .fini_array.* .ctors .ctors.* .dtors .dtors.*)
    }
}
