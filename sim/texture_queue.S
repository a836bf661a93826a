// The engine's texture-queue entry, laid out like the game's own: the code is placed by
// texture_queue.ld so that the function starts at RVA 0x1E5350 and its frame setup sits at
// RVA 0x1E5363. The body hands the queue to zor_sim_process_texture_queue (TextureQueue.cpp).
    .section .zorq,"xr"
    .skip 0x350, 0xCC
    .globl zor_sim_texture_queue
    .def zor_sim_texture_queue; .scl 2; .type 32; .endef
    .seh_proc zor_sim_texture_queue
zor_sim_texture_queue:
    .byte 0x48, 0x8B, 0xC4  // mov rax, rsp (the engine's encoding)
    movq %rbx, 8(%rax)
    movq %rsi, 16(%rax)
    pushq %rbp
    .seh_pushreg %rbp
    pushq %rdi
    .seh_pushreg %rdi
    pushq %r12
    .seh_pushreg %r12
    pushq %r14
    .seh_pushreg %r14
    pushq %r15
    .seh_pushreg %r15
    leaq -0x5F(%rax), %rbp
    subq $0xD0, %rsp
    .seh_stackalloc 0xD0
    .seh_savereg %rbx, 256
    .seh_savereg %rsi, 264
    .byte 0x48, 0x8B, 0xF9  // mov rdi, rcx (the engine's encoding)
    .seh_endprologue
    leaq 0x170(%rdi), %r14
    movq %rdi, %rcx
    call zor_sim_process_texture_queue
    addq $0xD0, %rsp
    popq %r15
    popq %r14
    popq %r12
    popq %rdi
    popq %rbp
    movq 8(%rsp), %rbx
    movq 16(%rsp), %rsi
    ret
    .seh_endproc
