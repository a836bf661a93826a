# Helpers for FaultGuardTest: a function that wrecks every callee-saved register before it
# faults, and a caller that checks they all come back intact through zor_guard_invoke.
    .intel_syntax noprefix
    .text

# void zor_test_clobber_and_fault(void* address [rcx]) -- a leaf without stack use, so the
# unwinder finds its return address at [rsp] without unwind data.
    .globl zor_test_clobber_and_fault
    .def zor_test_clobber_and_fault; .scl 2; .type 32; .endef
    .p2align 4
zor_test_clobber_and_fault:
    movabs rbx, 0xDEAD0000000000B1
    movabs rbp, 0xDEAD0000000000B2
    movabs rdi, 0xDEAD0000000000B3
    movabs rsi, 0xDEAD0000000000B4
    movabs r12, 0xDEAD0000000000B5
    movabs r13, 0xDEAD0000000000B6
    movabs r14, 0xDEAD0000000000B7
    movabs r15, 0xDEAD0000000000B8
    movq xmm6, rbx
    movq xmm7, rbx
    movq xmm8, rbx
    movq xmm9, rbx
    movq xmm10, rbx
    movq xmm11, rbx
    movq xmm12, rbx
    movq xmm13, rbx
    movq xmm14, rbx
    movq xmm15, rbx
    std
    mov rax, qword ptr [rcx]
    cld
    ret

# Loads register r with a pattern and xmm register x with the same pattern in both halves.
.macro LOADPAT r, x, value
    movabs \r, \value
    movq \x, \r
    punpcklqdq \x, \x
.endm

# Sets bit b of r10d when general register r differs from value.
.macro CHECKGPR r, value, b
    movabs r11, \value
    cmp \r, r11
    je 91f
    or r10d, (1 << \b)
91:
.endm

# Sets bit b of r10d when either half of xmm register x differs from value.
.macro CHECKXMM x, value, b
    movabs r11, \value
    movq rax, \x
    cmp rax, r11
    je 92f
    or r10d, (1 << \b)
92:
    pshufd xmm0, \x, 0x4E
    movq rax, xmm0
    cmp rax, r11
    je 93f
    or r10d, (1 << \b)
93:
.endm

# uint32_t zor_test_guard_preserves(void* faultingAddress [rcx])
# Returns 0 when zor_guard_invoke returned 0 and every callee-saved register, the upper and
# lower halves of xmm6-xmm15 and the direction flag came back as they were. Otherwise a bit mask
# of what differed (bits 0-7 general registers, 8-17 xmm registers, 30 direction flag, 31 the
# result was not 0).
    .globl zor_test_guard_preserves
    .def zor_test_guard_preserves; .scl 2; .type 32; .endef
    .p2align 4
    .seh_proc zor_test_guard_preserves
zor_test_guard_preserves:
    push rbp
    .seh_pushreg rbp
    push rbx
    .seh_pushreg rbx
    push rdi
    .seh_pushreg rdi
    push rsi
    .seh_pushreg rsi
    push r12
    .seh_pushreg r12
    push r13
    .seh_pushreg r13
    push r14
    .seh_pushreg r14
    push r15
    .seh_pushreg r15
    sub rsp, 0xC8
    .seh_stackalloc 0xC8
    movaps xmmword ptr [rsp+0x20], xmm6
    .seh_savexmm xmm6, 0x20
    movaps xmmword ptr [rsp+0x30], xmm7
    .seh_savexmm xmm7, 0x30
    movaps xmmword ptr [rsp+0x40], xmm8
    .seh_savexmm xmm8, 0x40
    movaps xmmword ptr [rsp+0x50], xmm9
    .seh_savexmm xmm9, 0x50
    movaps xmmword ptr [rsp+0x60], xmm10
    .seh_savexmm xmm10, 0x60
    movaps xmmword ptr [rsp+0x70], xmm11
    .seh_savexmm xmm11, 0x70
    movaps xmmword ptr [rsp+0x80], xmm12
    .seh_savexmm xmm12, 0x80
    movaps xmmword ptr [rsp+0x90], xmm13
    .seh_savexmm xmm13, 0x90
    movaps xmmword ptr [rsp+0xA0], xmm14
    .seh_savexmm xmm14, 0xA0
    movaps xmmword ptr [rsp+0xB0], xmm15
    .seh_savexmm xmm15, 0xB0
    .seh_endprologue
    mov rdx, rcx
    lea rcx, [rip + zor_test_clobber_and_fault]
    LOADPAT rbx, xmm6, 0x1111111111111101
    LOADPAT rbp, xmm7, 0x2222222222222202
    LOADPAT rdi, xmm8, 0x3333333333333303
    LOADPAT rsi, xmm9, 0x4444444444444404
    LOADPAT r12, xmm10, 0x5555555555555505
    LOADPAT r13, xmm11, 0x6666666666666606
    LOADPAT r14, xmm12, 0x7777777777777707
    LOADPAT r15, xmm13, 0x0888888888888808
    movabs rax, 0x0999999999999909
    movq xmm14, rax
    punpcklqdq xmm14, xmm14
    movabs rax, 0x0AAAAAAAAAAAAA0A
    movq xmm15, rax
    punpcklqdq xmm15, xmm15
    call zor_guard_invoke
    mov r8d, eax
    xor r10d, r10d
    CHECKGPR rbx, 0x1111111111111101, 0
    CHECKGPR rbp, 0x2222222222222202, 1
    CHECKGPR rdi, 0x3333333333333303, 2
    CHECKGPR rsi, 0x4444444444444404, 3
    CHECKGPR r12, 0x5555555555555505, 4
    CHECKGPR r13, 0x6666666666666606, 5
    CHECKGPR r14, 0x7777777777777707, 6
    CHECKGPR r15, 0x0888888888888808, 7
    CHECKXMM xmm6, 0x1111111111111101, 8
    CHECKXMM xmm7, 0x2222222222222202, 9
    CHECKXMM xmm8, 0x3333333333333303, 10
    CHECKXMM xmm9, 0x4444444444444404, 11
    CHECKXMM xmm10, 0x5555555555555505, 12
    CHECKXMM xmm11, 0x6666666666666606, 13
    CHECKXMM xmm12, 0x7777777777777707, 14
    CHECKXMM xmm13, 0x0888888888888808, 15
    CHECKXMM xmm14, 0x0999999999999909, 16
    CHECKXMM xmm15, 0x0AAAAAAAAAAAAA0A, 17
    pushfq
    pop rax
    test eax, 0x400
    jz 1f
    or r10d, 0x40000000
    cld
1:  test r8d, r8d
    jz 2f
    or r10d, 0x80000000
2:  mov eax, r10d
    movaps xmm6, xmmword ptr [rsp+0x20]
    movaps xmm7, xmmword ptr [rsp+0x30]
    movaps xmm8, xmmword ptr [rsp+0x40]
    movaps xmm9, xmmword ptr [rsp+0x50]
    movaps xmm10, xmmword ptr [rsp+0x60]
    movaps xmm11, xmmword ptr [rsp+0x70]
    movaps xmm12, xmmword ptr [rsp+0x80]
    movaps xmm13, xmmword ptr [rsp+0x90]
    movaps xmm14, xmmword ptr [rsp+0xA0]
    movaps xmm15, xmmword ptr [rsp+0xB0]
    add rsp, 0xC8
    pop r15
    pop r14
    pop r13
    pop r12
    pop rsi
    pop rdi
    pop rbx
    pop rbp
    ret
    .seh_endproc
