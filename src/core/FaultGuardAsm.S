# The two fault-guarded routines behind core/FaultGuard.h. Each is described in the unwind
# data with an exception handler (FaultGuard.cpp) that, on a memory fault, redirects the
# faulting context to the routine's recovery label, which returns 0.
    .intel_syntax noprefix
    .text

# int zor_fault_copy(void* dst [rcx], const void* src [rdx], size_t size [r8])
# A leaf that uses volatile registers only, so recovery only has to move RIP.
    .globl zor_fault_copy
    .globl zor_fault_copy_failed
    .def zor_fault_copy; .scl 2; .type 32; .endef
    .p2align 4
    .seh_proc zor_fault_copy
zor_fault_copy:
    .seh_handler zor_fault_copy_handler, @except
    .seh_endprologue
    mov r9, r8
    shr r9, 3
    jz 2f
1:  mov rax, qword ptr [rdx]
    mov qword ptr [rcx], rax
    add rdx, 8
    add rcx, 8
    dec r9
    jnz 1b
2:  and r8, 7
    jz 4f
3:  movzx eax, byte ptr [rdx]
    mov byte ptr [rcx], al
    inc rdx
    inc rcx
    dec r8
    jnz 3b
4:  mov eax, 1
    ret
zor_fault_copy_failed:
    xor eax, eax
    ret
    .seh_endproc

# int zor_guard_invoke(void (*fn)(void*) [rcx], void* context [rdx])
# Saves every callee-saved register and the floating-point control state in its frame. The
# handler resumes at zor_guard_recover with RSP set back to this frame (the establisher
# frame), so the normal epilogue restores the caller's registers.
    .globl zor_guard_invoke
    .globl zor_guard_recover
    .def zor_guard_invoke; .scl 2; .type 32; .endef
    .p2align 4
    .seh_proc zor_guard_invoke
zor_guard_invoke:
    .seh_handler zor_guard_handler, @except
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
    sub rsp, 0xD8
    .seh_stackalloc 0xD8
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
    stmxcsr dword ptr [rsp+0xC0]
    fnstcw word ptr [rsp+0xC4]
    mov rax, rcx
    mov rcx, rdx
    call rax
    mov eax, 1
5:  movaps xmm6, xmmword ptr [rsp+0x20]
    movaps xmm7, xmmword ptr [rsp+0x30]
    movaps xmm8, xmmword ptr [rsp+0x40]
    movaps xmm9, xmmword ptr [rsp+0x50]
    movaps xmm10, xmmword ptr [rsp+0x60]
    movaps xmm11, xmmword ptr [rsp+0x70]
    movaps xmm12, xmmword ptr [rsp+0x80]
    movaps xmm13, xmmword ptr [rsp+0x90]
    movaps xmm14, xmmword ptr [rsp+0xA0]
    movaps xmm15, xmmword ptr [rsp+0xB0]
    add rsp, 0xD8
    pop r15
    pop r14
    pop r13
    pop r12
    pop rsi
    pop rdi
    pop rbx
    pop rbp
    ret
zor_guard_recover:
    fninit
    fldcw word ptr [rsp+0xC4]
    ldmxcsr dword ptr [rsp+0xC0]
    xor eax, eax
    jmp 5b
    .seh_endproc
