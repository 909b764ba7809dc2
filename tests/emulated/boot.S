# Start-up of the emulated AVX-512 check: the BIOS loads the image's first
# 2 KiB from the CD (El Torito, no emulation) to 0x7C00 in real mode; this
# code reads the rest with the extended disk read, enters 64-bit long mode
# with the first GiB identity-mapped, enables SSE, AVX and the AVX-512
# register state (XCR0), clears .bss, calls check_main and asks the
# emulator to shut down. Port 0xE9 carries progress letters (A: started,
# L: loaded, B: 32-bit, C: 64-bit, D: calling the check).
    .code16
    .section .boot, "ax"
    .globl _start
_start:
    cli
    xor %ax, %ax
    mov %ax, %ds
    mov %ax, %es
    mov %ax, %ss
    mov $0x7000, %sp
    mov $'A', %al
    out %al, $0xE9
    # The BIOS loaded only the first 2 KiB: read the rest of the image
    # (CD sectors after this one) to 0x8400 with the extended disk read.
    mov $dap, %si
    mov $0x42, %ah
    int $0x13
    jc load_failed
    mov $'L', %al
    out %al, $0xE9
    # enable A20 (fast)
    in $0x92, %al
    or $2, %al
    and $0xFE, %al
    out %al, $0x92
    lgdt gdt_ptr
    mov %cr0, %eax
    or $1, %eax
    mov %eax, %cr0
    ljmp $0x08, $pm32

load_failed:
    mov $'F', %al
    out %al, $0xE9
3:  hlt
    jmp 3b

    .align 4
dap:
    .byte 16, 0
    .word 30            # sectors of 2048 bytes, replaced when the CD is made
    .word 0x0000, 0x0840  # offset, segment -> 0x8400
    .globl image_lba
image_lba:
    .long 0xDEADBEEF, 0  # replaced when the CD is made: LBA of the image's second sector

    .code32
pm32:
    mov $0x10, %ax
    mov %ax, %ds
    mov %ax, %es
    mov %ax, %ss
    mov %ax, %fs
    mov %ax, %gs
    mov $0x7000, %esp
    mov $'B', %al
    out %al, $0xE9
    # page tables at 0x1000 (PML4), 0x2000 (PDPT), 0x3000 (PD): identity map 1 GiB with 2 MiB pages
    mov $0x1000, %edi
    mov $0x3000, %ecx
    xor %eax, %eax
    rep stosb
    movl $0x2003, 0x1000
    movl $0x3003, 0x2000
    mov $0x3000, %edi
    mov $0x83, %eax
    mov $512, %ecx
1:  movl %eax, (%edi)
    movl $0, 4(%edi)
    add $0x200000, %eax
    add $8, %edi
    loop 1b
    mov $0x1000, %eax
    mov %eax, %cr3
    mov %cr4, %eax
    or $(1<<5), %eax          # PAE
    mov %eax, %cr4
    mov $0xC0000080, %ecx
    rdmsr
    or $(1<<8), %eax          # LME
    wrmsr
    mov %cr0, %eax
    or $0x80000000, %eax      # PG
    mov %eax, %cr0
    ljmp $0x18, $lm64

    .code64
lm64:
    mov $0x10, %ax
    mov %ax, %ds
    mov %ax, %es
    mov %ax, %ss
    mov $stack_top, %rsp
    mov $'C', %al
    out %al, $0xE9
    # FPU/SSE: CR0.EM=0, MP=1; CR4 OSFXSR, OSXMMEXCPT, OSXSAVE
    mov %cr0, %rax
    and $~4, %rax
    or $2, %rax
    mov %rax, %cr0
    mov %cr4, %rax
    or $((1<<9)|(1<<10)|(1<<18)), %rax
    mov %rax, %cr4
    fninit
    # XCR0: x87, SSE, AVX, opmask, ZMM_Hi256, Hi16_ZMM
    xor %ecx, %ecx
    mov $0xE7, %eax
    xor %edx, %edx
    xsetbv
    # zero .bss
    mov $__bss_start, %rdi
    mov $__bss_end, %rcx
    sub %rdi, %rcx
    xor %eax, %eax
    rep stosb
    mov $'D', %al
    out %al, $0xE9
    call check_main
    # Bochs shutdown port
    mov $0x8900, %dx
    mov $'S', %al
    out %al, %dx
    mov $'h', %al
    out %al, %dx
    mov $'u', %al
    out %al, %dx
    mov $'t', %al
    out %al, %dx
    mov $'d', %al
    out %al, %dx
    mov $'o', %al
    out %al, %dx
    mov $'w', %al
    out %al, %dx
    mov $'n', %al
    out %al, %dx
2:  hlt
    jmp 2b

    .align 8
gdt:
    .quad 0
    .quad 0x00CF9A000000FFFF   # 0x08 code32
    .quad 0x00CF92000000FFFF   # 0x10 data
    .quad 0x00AF9A000000FFFF   # 0x18 code64
gdt_ptr:
    .word gdt_ptr - gdt - 1
    .long gdt
