/*
 * Calls a function the way a 32-bit Windows host does and records what the
 * callee did to the stack and to the registers it must preserve.
 *
 * void tm_stdcall_probe(struct Probe* p)   (cdecl)
 *   0 fn            4 args          8 word count   12 entry offset (ESP mod 16 at the callee's entry)
 *  16 esp before   20 esp after    24 returns double
 *  28 eax          32 edx          36 ebx after    40 esi after    44 edi after
 *  48 st(0) as a double
 */
        .text
        .globl  _tm_stdcall_probe
_tm_stdcall_probe:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        movl    8(%ebp), %ebx

        /* Place ESP so that, after the arguments and the return address are
           pushed, the callee starts with ESP = entry offset (mod 16). */
        andl    $-16, %esp
        subl    $64, %esp
        movl    8(%ebx), %ecx
        leal    4(,%ecx,4), %eax
        addl    12(%ebx), %eax
        andl    $15, %eax
        subl    $16, %esp
        addl    %eax, %esp
        movl    %esp, 16(%ebx)

        movl    4(%ebx), %esi
1:      testl   %ecx, %ecx
        jz      2f
        decl    %ecx
        pushl   (%esi,%ecx,4)
        jmp     1b
2:
        movl    (%ebx), %eax
        movl    $0x13579bdf, %esi
        movl    $0x2468ace0, %edi
        call    *%eax

        movl    8(%ebp), %ecx
        movl    %esp, 20(%ecx)
        movl    %eax, 28(%ecx)
        movl    %edx, 32(%ecx)
        movl    %ebx, 36(%ecx)
        movl    %esi, 40(%ecx)
        movl    %edi, 44(%ecx)
        cmpl    $0, 24(%ecx)
        je      3f
        fstpl   48(%ecx)
3:
        leal    -12(%ebp), %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret
