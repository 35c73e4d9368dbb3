/*
 * Calls a function the way a 64-bit Windows host does (the Microsoft x64
 * convention) and records what the callee left in the registers it must
 * preserve and in the stack pointer.
 *
 * void tm_ms_x64_probe(struct Probe* p)
 *    0 fn               8 stack slots (const uint64_t*)   16 slot count (at most 10)
 *   24 rcx rdx r8 r9 (4 x 8)       56 xmm0..xmm3, low 8 bytes (4 x 8)
 *   88 rsp before the call         96 rsp after the call
 *  104 rax                        112 xmm0, low 8 bytes
 *  120 rbx rbp rdi rsi r12 r13 r14 r15 after the call (8 x 8)
 *  184 xmm6..xmm15 after the call (10 x 16)
 *
 * Before the call RBX holds the probe's address and the other non-volatile
 * registers hold the patterns below; the caller compares. The slots are
 * copied to the bottom of the outgoing area: slots 0-3 are the callee's
 * home space, slot 4 on its fifth argument and so on. Unwind data describes
 * the frame, so that a walk from inside the callee reaches the caller.
 */
        .text
        .globl  tm_ms_x64_probe
        .def    tm_ms_x64_probe; .scl 2; .type 32; .endef
        .seh_proc tm_ms_x64_probe
tm_ms_x64_probe:
        pushq   %rbp
        .seh_pushreg %rbp
        pushq   %rbx
        .seh_pushreg %rbx
        pushq   %rdi
        .seh_pushreg %rdi
        pushq   %rsi
        .seh_pushreg %rsi
        pushq   %r12
        .seh_pushreg %r12
        pushq   %r13
        .seh_pushreg %r13
        pushq   %r14
        .seh_pushreg %r14
        pushq   %r15
        .seh_pushreg %r15
        /* 80 outgoing, 8 probe, 8 scratch, 160 for xmm6-15, 8 to align */
        subq    $264, %rsp
        .seh_stackalloc 264
        movdqu  %xmm6, 96(%rsp)
        .seh_savexmm %xmm6, 96
        movdqu  %xmm7, 112(%rsp)
        .seh_savexmm %xmm7, 112
        movdqu  %xmm8, 128(%rsp)
        .seh_savexmm %xmm8, 128
        movdqu  %xmm9, 144(%rsp)
        .seh_savexmm %xmm9, 144
        movdqu  %xmm10, 160(%rsp)
        .seh_savexmm %xmm10, 160
        movdqu  %xmm11, 176(%rsp)
        .seh_savexmm %xmm11, 176
        movdqu  %xmm12, 192(%rsp)
        .seh_savexmm %xmm12, 192
        movdqu  %xmm13, 208(%rsp)
        .seh_savexmm %xmm13, 208
        movdqu  %xmm14, 224(%rsp)
        .seh_savexmm %xmm14, 224
        movdqu  %xmm15, 240(%rsp)
        .seh_savexmm %xmm15, 240
        .seh_endprologue

        movq    %rcx, 80(%rsp)
        movq    %rcx, %rbx

        /* The stack slots, from the bottom of the outgoing area. */
        movq    8(%rbx), %rsi
        movq    16(%rbx), %rcx
        xorl    %eax, %eax
1:      cmpq    %rcx, %rax
        jae     2f
        movq    (%rsi,%rax,8), %rdx
        movq    %rdx, (%rsp,%rax,8)
        incq    %rax
        jmp     1b
2:
        movdqu  patterns+0(%rip), %xmm6
        movdqu  patterns+16(%rip), %xmm7
        movdqu  patterns+32(%rip), %xmm8
        movdqu  patterns+48(%rip), %xmm9
        movdqu  patterns+64(%rip), %xmm10
        movdqu  patterns+80(%rip), %xmm11
        movdqu  patterns+96(%rip), %xmm12
        movdqu  patterns+112(%rip), %xmm13
        movdqu  patterns+128(%rip), %xmm14
        movdqu  patterns+144(%rip), %xmm15
        movabsq $0x1111222233334444, %rbp
        movabsq $0x5555666677778888, %rdi
        movabsq $0x99990000aaaabbbb, %rsi
        movabsq $0xccccddddeeeeffff, %r12
        movabsq $0x0123456789abcdef, %r13
        movabsq $0xfedcba9876543210, %r14
        movabsq $0x0f1e2d3c4b5a6978, %r15

        movq    56(%rbx), %xmm0
        movq    64(%rbx), %xmm1
        movq    72(%rbx), %xmm2
        movq    80(%rbx), %xmm3
        movq    24(%rbx), %rcx
        movq    32(%rbx), %rdx
        movq    40(%rbx), %r8
        movq    48(%rbx), %r9
        movq    (%rbx), %rax
        movq    %rsp, 88(%rbx)
        callq   *%rax

        /* Trust nothing the callee kept but what it must: the probe's
           address comes back from the frame, RSP-relative. */
        movq    %rax, 88(%rsp)
        movq    80(%rsp), %rax
        movq    %rsp, 96(%rax)
        movq    88(%rsp), %rcx
        movq    %rcx, 104(%rax)
        movq    %xmm0, 112(%rax)
        movq    %rbx, 120(%rax)
        movq    %rbp, 128(%rax)
        movq    %rdi, 136(%rax)
        movq    %rsi, 144(%rax)
        movq    %r12, 152(%rax)
        movq    %r13, 160(%rax)
        movq    %r14, 168(%rax)
        movq    %r15, 176(%rax)
        movdqu  %xmm6, 184(%rax)
        movdqu  %xmm7, 200(%rax)
        movdqu  %xmm8, 216(%rax)
        movdqu  %xmm9, 232(%rax)
        movdqu  %xmm10, 248(%rax)
        movdqu  %xmm11, 264(%rax)
        movdqu  %xmm12, 280(%rax)
        movdqu  %xmm13, 296(%rax)
        movdqu  %xmm14, 312(%rax)
        movdqu  %xmm15, 328(%rax)

        movdqu  96(%rsp), %xmm6
        movdqu  112(%rsp), %xmm7
        movdqu  128(%rsp), %xmm8
        movdqu  144(%rsp), %xmm9
        movdqu  160(%rsp), %xmm10
        movdqu  176(%rsp), %xmm11
        movdqu  192(%rsp), %xmm12
        movdqu  208(%rsp), %xmm13
        movdqu  224(%rsp), %xmm14
        movdqu  240(%rsp), %xmm15
        addq    $264, %rsp
        popq    %r15
        popq    %r14
        popq    %r13
        popq    %r12
        popq    %rsi
        popq    %rdi
        popq    %rbx
        popq    %rbp
        ret
        .seh_endproc

/* XMM6-XMM15 before the call: distinct in every 32-bit lane. */
        .section .rdata,"dr"
        .balign 16
        .globl  tm_ms_x64_patterns
tm_ms_x64_patterns:
patterns:
        .long   0x06060601, 0x06060602, 0x06060603, 0x06060604
        .long   0x07070701, 0x07070702, 0x07070703, 0x07070704
        .long   0x08080801, 0x08080802, 0x08080803, 0x08080804
        .long   0x09090901, 0x09090902, 0x09090903, 0x09090904
        .long   0x0a0a0a01, 0x0a0a0a02, 0x0a0a0a03, 0x0a0a0a04
        .long   0x0b0b0b01, 0x0b0b0b02, 0x0b0b0b03, 0x0b0b0b04
        .long   0x0c0c0c01, 0x0c0c0c02, 0x0c0c0c03, 0x0c0c0c04
        .long   0x0d0d0d01, 0x0d0d0d02, 0x0d0d0d03, 0x0d0d0d04
        .long   0x0e0e0e01, 0x0e0e0e02, 0x0e0e0e03, 0x0e0e0e04
        .long   0x0f0f0f01, 0x0f0f0f02, 0x0f0f0f03, 0x0f0f0f04
