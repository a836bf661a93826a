# Functions with hand-written prologues for the hook engine tests. Windows x64 calling
# convention: arguments in rcx, rdx; result in rax. Each one is followed by int3 padding
# unless its layout says otherwise.
    .intel_syntax noprefix

    .data
    .p2align 3
    .globl zt_table
zt_table:
    .quad 11, 22, 33, 44
    .globl zt_value
zt_value:
    .long 500
    .long 0
    .globl zt_flag
zt_flag:
    .long 0
    .long 0
zt_thunk_slot:
    .quad zt_pushes

    .text

# a + 2*b. Pushes and sub rsp: the patch takes push rbp, push rbx, sub rsp.
    .p2align 4, 0xcc
    .globl zt_pushes
zt_pushes:
    push rbp
    push rbx
    sub rsp, 0x28
    lea rax, [rcx + rdx*2]
    add rsp, 0x28
    pop rbx
    pop rbp
    ret
    .globl zt_pushes_end
zt_pushes_end:

# zt_table[a]. RIP-relative lea as the first instruction.
    .p2align 4, 0xcc
    .globl zt_rip_lea
zt_rip_lea:
    lea rax, [rip + zt_table]
    mov rax, [rax + rcx*8]
    ret

# zt_value + a. RIP-relative load.
    .p2align 4, 0xcc
    .globl zt_rip_mov
zt_rip_mov:
    mov eax, dword ptr [rip + zt_value]
    add rax, rcx
    ret

# zt_flag ? a : a + b. RIP-relative compare whose immediate follows the displacement.
    .p2align 4, 0xcc
    .globl zt_rip_cmp
zt_rip_cmp:
    cmp dword ptr [rip + zt_flag], 0
    jne 1f
    lea rax, [rcx + rdx]
    ret
1:  mov rax, rcx
    ret

# 3a (helper, leaves rdx alone).
    .p2align 4, 0xcc
zt_triple:
    lea rax, [rcx + rcx*2]
    ret

# 3a + b. call rel32 inside the moved bytes.
    .p2align 4, 0xcc
    .globl zt_call_rel
zt_call_rel:
    sub rsp, 0x28
    call zt_triple
    add rsp, 0x28
    add rax, rdx
    ret

# a == 0 ? 77 : a + b. Short jcc inside the moved bytes, target outside them.
    .p2align 4, 0xcc
    .globl zt_jcc_short
zt_jcc_short:
    test rcx, rcx
    jz 1f
    lea rax, [rcx + rdx]
    ret
1:  mov eax, 77
    ret

# b + a for a >= 1. The loop's jnz is moved too and targets the entry: it must stay inside
# the trampoline.
    .p2align 4, 0xcc
    .globl zt_inner_loop
zt_inner_loop:
1:  inc edx
    dec ecx
    jnz 1b
    mov eax, edx
    ret

# Tail jump (jmp rel32) to zt_pushes.
    .p2align 4, 0xcc
    .globl zt_thunk
zt_thunk:
    .byte 0xE9
    .long zt_pushes - (. + 4)

# a + 4b behind a short jmp: 2 bytes of code, then padding the patch may cover.
    .p2align 4, 0xcc
    .globl zt_short_jmp
zt_short_jmp:
    jmp 1f
    .fill 14, 1, 0xcc
1:  lea rax, [rcx + rdx*4]
    ret

# jmp qword ptr [rip+x] to zt_pushes, like an import thunk.
    .p2align 4, 0xcc
    .globl zt_indirect_thunk
zt_indirect_thunk:
    jmp qword ptr [rip + zt_thunk_slot]

# a + b in four bytes, followed by int3 padding.
    .p2align 4, 0xcc
    .globl zt_padded
zt_padded:
    lea eax, [rcx + rdx]
    ret

# Adds 1 to *counter. Its moved bytes are two slow pause instructions and a push, so threads
# calling it in a loop are often caught inside them, here or in the trampoline.
    .p2align 4, 0xcc
    .globl zt_counted
zt_counted:
    pause
    pause
    push rbx
    mov rbx, rcx
    lock add qword ptr [rbx], 1
    pop rbx
    ret

# ---- Functions the engine must refuse -------------------------------------------------

# Three bytes, and the next function starts right after them: no room for the patch.
    .p2align 4, 0xcc
    .globl zt_too_short
zt_too_short:
    xor eax, eax
    ret
zt_too_short_next:
    xor eax, eax
    ret

# jrcxz to just past the moved bytes.
    .p2align 4, 0xcc
    .globl zt_jrcxz_out
zt_jrcxz_out:
    xor eax, eax
    jrcxz 1f
    lea eax, [rcx + rdx]
1:  ret

# loop to just past the moved bytes.
    .p2align 4, 0xcc
    .globl zt_loop_out
zt_loop_out:
    xor eax, eax
    loop 1f
    inc eax
1:  ret

# The loop's jnz, outside the moved bytes, jumps back into them.
    .p2align 4, 0xcc
    .globl zt_back_branch
zt_back_branch:
    xor eax, eax
1:  add eax, 3
    dec ecx
    jnz 1b
    ret

# 0x06 (push es) does not exist in 64-bit mode.
    .p2align 4, 0xcc
    .globl zt_undecodable
zt_undecodable:
    .byte 0x06
    ret

# call [rcx] is two bytes: its return address would land under the patch.
    .p2align 4, 0xcc
    .globl zt_call_short
zt_call_short:
    call qword ptr [rcx]
    ret

# mov eax, [eip+0]: a 32-bit RIP-relative address.
    .p2align 4, 0xcc
    .globl zt_eip_relative
zt_eip_relative:
    .byte 0x67, 0x8B, 0x05, 0, 0, 0, 0
    ret

# jz into the middle of the mov that follows it.
    .p2align 4, 0xcc
    .globl zt_misaligned
zt_misaligned:
    .byte 0x74, 0x01
    .byte 0xB8, 0xC3, 0xC3, 0xC3, 0xC3
    ret

# xbegin rel32 has no equivalent the trampoline could use.
    .p2align 4, 0xcc
    .globl zt_xbegin
zt_xbegin:
    .byte 0xC7, 0xF8, 0, 0, 0, 0
    ret

    .p2align 4, 0xcc
    int3

# a + 3b. Its first 14 bytes are whole position-independent instructions, so another module's
# 14-byte jmp qword [rip+0] can be written over them and the bytes moved as they are.
    .p2align 4, 0xcc
    .globl zt_shared
zt_shared:
    push rbp
    push rbx
    push rsi
    sub rsp, 0x20
    mov rax, rcx
    lea rsi, [rdx + rdx*2]
    add rax, rsi
    add rsp, 0x20
    pop rsi
    pop rbx
    pop rbp
    ret
    .globl zt_shared_end
zt_shared_end:

    .p2align 4, 0xcc
    int3
