/* CPU layer of the kernel for Cortex-M3 and Cortex-M4F: vector table, reset
 * entry, the PendSV context switch and the thread-mode half of a switch.
 *
 * Saved context at a task's stack_last, lowest address first:
 *   EXC_RETURN
 *   s16-s31                       only when EXC_RETURN bit 4 is 0
 *   r4-r11
 *   r0-r3 r12 lr pc xPSR          stacked by the hardware
 *   s0-s15 FPSCR reserved         only when EXC_RETURN bit 4 is 0; the
 *                                 reserved word is never written
 *   pad word                      when xPSR bit 9 is set
 * EXC_RETURN comes first so that a frame without floating-point context is
 * the full frame with words 1-16 taken out (see qx_kernel.c for the map).
 *
 * Every switch is asked for in thread mode by qx_cpu_switch, which loads the
 * task's marker values into r0-r12, lr and the APSR flags before it lets the
 * pended PendSV in, so every saved frame holds known values. */
#include "qx_config.h"

	.syntax unified
	.thumb
	.cfi_sections .debug_frame

/* Marker value of core register R of task T: T in the top nibble and the
 * byte 0xA0 + R in bytes 0 and 2 (one Thumb-2 modified immediate). */
#define QX_INT_MARK(r) (0x00A000A0 + (r) * 0x00010001)
/* Marker of s<n>: the byte 0xC0 + n in bytes 0 and 2. */
#define QX_FP_MARK(n) (0x00C000C0 + (n) * 0x00010001)
/* Stale word left below a switch's stack pointer: T in the top nibble, the
 * byte 0xDE in bytes 0 and 2, and xPSR bit 9 (0x200) set exactly when the
 * frame gets no pad word, the opposite of the real xPSR. */
#define QX_STALE_MARK 0x00DE00DE

	.section .vectors, "a", %progbits
	.global qx_cpu_vectors
qx_cpu_vectors:
	.word __qx_msp_top
	.word qx_cpu_reset_handler
	.word qx_cpu_fault_handler /* NMI */
	.word qx_cpu_fault_handler /* HardFault */
	.word qx_cpu_fault_handler /* MemManage */
	.word qx_cpu_fault_handler /* BusFault */
	.word qx_cpu_fault_handler /* UsageFault */
	.word 0, 0, 0, 0
	.word qx_cpu_fault_handler /* SVCall */
	.word qx_cpu_fault_handler /* DebugMonitor */
	.word 0
	.word qx_cpu_pendsv_enter
	.word qx_cpu_fault_handler /* SysTick: never enabled */

/* Reset entry: the only code in the reset section, so a debugger can tell
 * that the C start-up has not finished while pc lies inside it. */
	.section .text.reset, "ax", %progbits
	.global qx_cpu_reset_handler
	.type qx_cpu_reset_handler, %function
	.thumb_func
qx_cpu_reset_handler:
#if QX_HAS_FPU
	ldr r0, =0xE000ED88 /* CPACR: full access to CP10 and CP11 */
	ldr r1, [r0]
	orr r1, r1, #(0xF << 20)
	str r1, [r0]
	dsb
	isb
#endif
	ldr r0, =__data_start
	ldr r1, =__data_end
	ldr r2, =__data_load
1:	cmp r0, r1
	bhs 2f
	ldr r3, [r2], #4
	str r3, [r0], #4
	b 1b
2:	ldr r0, =__bss_start
	ldr r1, =__bss_end
	movs r2, #0
3:	cmp r0, r1
	bhs 4f
	str r2, [r0], #4
	b 3b
4:	bl qx_model_main
	b qx_cpu_fault_handler
	.ltorg
	.size qx_cpu_reset_handler, . - qx_cpu_reset_handler

	.text

/* Every fault and unexpected exception ends here. */
	.global qx_cpu_fault_handler
	.type qx_cpu_fault_handler, %function
	.thumb_func
qx_cpu_fault_handler:
	b qx_cpu_fault_handler
	.size qx_cpu_fault_handler, . - qx_cpu_fault_handler

/* PendSV: save the running task's context on its stack, let the kernel pick
 * up the next task (qx_cpu_switch_hook), restore that task's context. */
	.global qx_cpu_pendsv_enter
	.type qx_cpu_pendsv_enter, %function
	.thumb_func
qx_cpu_pendsv_enter:
	mrs r0, psp
	stmdb r0!, {r4-r11}
#if QX_HAS_FPU
	tst lr, #0x10
	it eq
	vstmdbeq r0!, {s16-s31}
#endif
	str lr, [r0, #-4]!
	ldr r1, =qx_kernel_running_task
	ldr r2, [r1]
	str r0, [r2] /* stack_last */
	bl qx_cpu_switch_hook
	ldr r1, =qx_kernel_running_task
	ldr r2, [r1]
	ldr r0, [r2]
	ldr lr, [r0], #4
#if QX_HAS_FPU
	tst lr, #0x10
	it eq
	vldmiaeq r0!, {s16-s31}
#endif
	ldmia r0!, {r4-r11}
	msr psp, r0
	bx lr
	.ltorg
	.size qx_cpu_pendsv_enter, . - qx_cpu_pendsv_enter

/* void qx_cpu_start(void *boot_stack_top): move thread mode onto the process
 * stack and let the first switch in. The boot context saved here is never
 * resumed. */
	.global qx_cpu_start
	.type qx_cpu_start, %function
	.thumb_func
qx_cpu_start:
	msr psp, r0
	movs r1, #2
	msr control, r1
	isb
	ldr r2, =0xE000ED04 /* ICSR */
	mov r3, #0x10000000 /* PENDSVSET */
	str r3, [r2]
	dsb
	isb
5:	b 5b
	.ltorg
	.size qx_cpu_start, . - qx_cpu_start

/* void qx_cpu_switch(unsigned task_number, unsigned flags)
 * Thread-mode half of a switch away from the running task. The stack is
 * aligned to 8, or to 4 mod 8 with QX_SWITCH_PAD so that the hardware adds
 * the pad word; the stack pointer the exception sees is recorded in
 * qx_cpu_switch_sp[task_number]. Then the marker values are loaded and the
 * pended PendSV let in. When the task is switched back in, the registers are
 * handed to qx_cpu_check_resume, which counts any that changed. */
	.global qx_cpu_switch
	.type qx_cpu_switch, %function
	.thumb_func
qx_cpu_switch:
	/* Call-frame information lets a debugger unwind a switched-out task from
	 * its saved pc (qx_cpu_switch_resume) into the kernel's wait routine and
	 * the task's entry. Once sp has moved below the slot area, the caller's
	 * stack pointer after the push is the slot word at sp rounded up to 8, so
	 * the frame address is an expression (DW_CFA_def_cfa_expression:
	 * DW_OP_breg13 N, DW_OP_const4u ~7, DW_OP_and, DW_OP_deref,
	 * DW_OP_plus_uconst 36), N being the distance back to the aligned slot. */
	.cfi_startproc
	push {r4-r11, lr}
	.cfi_def_cfa_offset 36
	.cfi_offset r4, -36
	.cfi_offset r5, -32
	.cfi_offset r6, -28
	.cfi_offset r7, -24
	.cfi_offset r8, -20
	.cfi_offset r9, -16
	.cfi_offset r10, -12
	.cfi_offset r11, -8
	.cfi_offset lr, -4
	mov r4, sp
	sub r5, sp, #16
	bic r5, r5, #7
	str r4, [r5]      /* the caller's stack pointer */
	str r1, [r5, #4]  /* flags */
	str r0, [r5, #8]  /* task number */
	tst r1, #QX_SWITCH_PAD
	ite ne
	subne r6, r5, #4
	moveq r6, r5
	mov sp, r6
	/* CFA = *((sp + 7) & ~7) + 36 */
	.cfi_escape 0x0f, 0x0b, 0x7d, 0x07, 0x0c, 0xf8, 0xff, 0xff, 0xff, 0x1a, 0x06, 0x23, 0x24
	ldr r7, =qx_cpu_switch_sp
	str r6, [r7, r0, lsl #2]
#if QX_HAS_FPU
	/* The hardware leaves the reserved word of a frame with FP context (and
	 * the pad word) unwritten: put QX_STALE_MARK where they will lie, so a
	 * reader that takes the reserved word for the xPSR gets the wrong pad
	 * bit and a wrong stack pointer. */
	lsl r8, r0, #28
	orr r8, r8, #QX_STALE_MARK
	tst r1, #QX_SWITCH_PAD
	it eq
	orreq r8, r8, #0x200
	str r8, [r6, #-4] /* reserved word, or the pad word */
	str r8, [r6, #-8] /* reserved word below a pad word, or FPSCR */
#endif
	cpsid i
	ldr r2, =0xE000ED04 /* ICSR */
	mov r3, #0x10000000 /* PENDSVSET */
	str r3, [r2]
	dsb
	lsl r12, r0, #28
	msr APSR_nzcvq, r12
	orr r0, r12, #QX_INT_MARK(0)
	orr r1, r12, #QX_INT_MARK(1)
	orr r2, r12, #QX_INT_MARK(2)
	orr r3, r12, #QX_INT_MARK(3)
	orr r4, r12, #QX_INT_MARK(4)
	orr r5, r12, #QX_INT_MARK(5)
	orr r6, r12, #QX_INT_MARK(6)
	orr r7, r12, #QX_INT_MARK(7)
	orr r8, r12, #QX_INT_MARK(8)
	orr r9, r12, #QX_INT_MARK(9)
	orr r10, r12, #QX_INT_MARK(10)
	orr r11, r12, #QX_INT_MARK(11)
	orr lr, r12, #QX_INT_MARK(14)
	orr r12, r12, #QX_INT_MARK(12)
	cpsie i
	.global qx_cpu_switch_resume
qx_cpu_switch_resume:
	stmdb sp!, {r0-r12, lr}
	/* CFA = *((sp + 63) & ~7) + 36 */
	.cfi_escape 0x0f, 0x0b, 0x7d, 0x3f, 0x0c, 0xf8, 0xff, 0xff, 0xff, 0x1a, 0x06, 0x23, 0x24
	mrs r0, apsr
	str r0, [sp, #-4]!
	/* CFA = *((sp + 67) & ~7) + 36 */
	.cfi_escape 0x0f, 0x0c, 0x7d, 0xc3, 0x00, 0x0c, 0xf8, 0xff, 0xff, 0xff, 0x1a, 0x06, 0x23, 0x24
	mov r0, sp           /* apsr, r0-r12, lr */
	add r5, r0, #(15 * 4 + 7)
	bic r5, r5, #7       /* back at the slot area */
	/* CFA = *r5 + 36 */
	.cfi_escape 0x0f, 0x05, 0x75, 0x00, 0x06, 0x23, 0x24
	ldr r1, [r5, #8]
	ldr r2, [r5, #4]
	sub r3, r0, #(33 * 4)
	bic r3, r3, #7
	mov sp, r3
#if QX_HAS_FPU
	tst r2, #QX_SWITCH_FP_KEEP
	beq 6f
	vstmia r3, {s0-s31}
	vmrs r12, fpscr
	str r12, [r3, #128]
	b 7f
#endif
6:	movs r3, #0
7:	bl qx_cpu_check_resume
	ldr r0, [r5]
	mov sp, r0
	.cfi_def_cfa sp, 36
	pop {r4-r11, pc}
	.cfi_endproc
	.ltorg
	.size qx_cpu_switch, . - qx_cpu_switch

#if QX_HAS_FPU
/* void qx_cpu_fp_load(unsigned task_number): s<n> = T << 28 | QX_FP_MARK(n),
 * FPSCR = T << 28 | 0x80 | T. */
	.global qx_cpu_fp_load
	.type qx_cpu_fp_load, %function
	.thumb_func
qx_cpu_fp_load:
	lsl r1, r0, #28
	.irp n, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31
	orr r2, r1, #QX_FP_MARK(\n)
	vmov s\n, r2
	.endr
	orr r2, r1, #0x80
	orr r2, r2, r0
	vmsr fpscr, r2
	bx lr
	.size qx_cpu_fp_load, . - qx_cpu_fp_load

/* void qx_cpu_fp_release(void *save_area): store s0-s31 and FPSCR in the
 * task's save area and drop the active FP context, so that the task's next
 * frame holds none. */
	.global qx_cpu_fp_release
	.type qx_cpu_fp_release, %function
	.thumb_func
qx_cpu_fp_release:
	vstmia r0, {s0-s31}
	vmrs r1, fpscr
	str r1, [r0, #128]
	mrs r1, control
	bic r1, r1, #4
	msr control, r1
	isb
	bx lr
	.size qx_cpu_fp_release, . - qx_cpu_fp_release

/* void qx_cpu_set_fpscr(unsigned value), handler mode only. */
	.global qx_cpu_set_fpscr
	.type qx_cpu_set_fpscr, %function
	.thumb_func
qx_cpu_set_fpscr:
	vmsr fpscr, r0
	bx lr
	.size qx_cpu_set_fpscr, . - qx_cpu_set_fpscr
#endif
