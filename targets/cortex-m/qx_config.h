/* Build parameters shared by the kernel's C and assembly sources. */
#ifndef QX_CONFIG_H
#define QX_CONFIG_H

#if defined(__ARM_FP)
#define QX_HAS_FPU 1
#else
#define QX_HAS_FPU 0
#endif

/* Switch flags of a task: how its next context save looks. */
#define QX_SWITCH_PAD 1     /* enter the switch with an odd-word stack: xPSR bit 9 */
#define QX_SWITCH_FP 2      /* the task has loaded its floating-point values */
#define QX_SWITCH_FP_KEEP 4 /* keep the FP context active: the frame holds it */

#endif
