/* Byte offsets of the TCMU command ring shared by the kernel and a user-space
 * handler (the kernel's linux/target_core_user.h, which a C++ compiler does
 * not take as it is). Plain C, so that tcmu_layout_check.c can hold each of
 * them against the kernel's own header when the program is built. */
#ifndef FORNAX_TCMU_LAYOUT_H
#define FORNAX_TCMU_LAYOUT_H

/* struct tcmu_mailbox, at the start of the mapped region */
#define FORNAX_TCMU_MAILBOX_FLAGS 2
#define FORNAX_TCMU_MAILBOX_RING_OFFSET 4
#define FORNAX_TCMU_MAILBOX_RING_SIZE 8
#define FORNAX_TCMU_MAILBOX_HEAD 12
#define FORNAX_TCMU_MAILBOX_TAIL 64
#define FORNAX_TCMU_FLAG_READ_LEN 0x2

/* struct tcmu_cmd_entry: a header, then a request or, in its place, a response */
/* The least an entry takes: room for the response, whatever the request. */
#define FORNAX_TCMU_ENTRY_BYTES 112
#define FORNAX_TCMU_ENTRY_LEN_OP 0
#define FORNAX_TCMU_ENTRY_UFLAGS 7
#define FORNAX_TCMU_REQ_IOV_COUNT 8
#define FORNAX_TCMU_REQ_CDB_OFFSET 24
#define FORNAX_TCMU_REQ_IOV 48
#define FORNAX_TCMU_IOV_BYTES 16
#define FORNAX_TCMU_RSP_STATUS 8
#define FORNAX_TCMU_RSP_READ_LEN 12
#define FORNAX_TCMU_RSP_SENSE 16
#define FORNAX_TCMU_SENSE_BYTES 96

#define FORNAX_TCMU_OP_MASK 0x7
#define FORNAX_TCMU_OP_PAD 0
#define FORNAX_TCMU_OP_CMD 1
#define FORNAX_TCMU_UFLAG_UNKNOWN_OP 0x1
#define FORNAX_TCMU_UFLAG_READ_LEN 0x2

#endif
