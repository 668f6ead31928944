/* Fails the build when the kernel's ring layout is not the one the handler
 * reads and writes. */
#include <stddef.h>

#include <linux/target_core_user.h>

#include "vrecorder/tcmu_layout.h"

#define SAME(ours, theirs) _Static_assert((ours) == (theirs), #ours " differs from the kernel's header")

SAME(FORNAX_TCMU_MAILBOX_FLAGS, offsetof(struct tcmu_mailbox, flags));
SAME(FORNAX_TCMU_MAILBOX_RING_OFFSET, offsetof(struct tcmu_mailbox, cmdr_off));
SAME(FORNAX_TCMU_MAILBOX_RING_SIZE, offsetof(struct tcmu_mailbox, cmdr_size));
SAME(FORNAX_TCMU_MAILBOX_HEAD, offsetof(struct tcmu_mailbox, cmd_head));
SAME(FORNAX_TCMU_MAILBOX_TAIL, offsetof(struct tcmu_mailbox, cmd_tail));
SAME(FORNAX_TCMU_FLAG_READ_LEN, TCMU_MAILBOX_FLAG_CAP_READ_LEN);
SAME(FORNAX_TCMU_ENTRY_BYTES, sizeof(struct tcmu_cmd_entry));
SAME(FORNAX_TCMU_ENTRY_LEN_OP, offsetof(struct tcmu_cmd_entry, hdr.len_op));
SAME(FORNAX_TCMU_ENTRY_UFLAGS, offsetof(struct tcmu_cmd_entry, hdr.uflags));
SAME(FORNAX_TCMU_REQ_IOV_COUNT, offsetof(struct tcmu_cmd_entry, req.iov_cnt));
SAME(FORNAX_TCMU_REQ_CDB_OFFSET, offsetof(struct tcmu_cmd_entry, req.cdb_off));
SAME(FORNAX_TCMU_REQ_IOV, offsetof(struct tcmu_cmd_entry, req.iov));
SAME(FORNAX_TCMU_IOV_BYTES, sizeof(struct iovec));
SAME(FORNAX_TCMU_RSP_STATUS, offsetof(struct tcmu_cmd_entry, rsp.scsi_status));
SAME(FORNAX_TCMU_RSP_READ_LEN, offsetof(struct tcmu_cmd_entry, rsp.read_len));
SAME(FORNAX_TCMU_RSP_SENSE, offsetof(struct tcmu_cmd_entry, rsp.sense_buffer));
SAME(FORNAX_TCMU_SENSE_BYTES, TCMU_SENSE_BUFFERSIZE);
SAME(FORNAX_TCMU_OP_MASK, TCMU_OP_MASK);
SAME(FORNAX_TCMU_OP_PAD, TCMU_OP_PAD);
SAME(FORNAX_TCMU_OP_CMD, TCMU_OP_CMD);
SAME(FORNAX_TCMU_UFLAG_UNKNOWN_OP, TCMU_UFLAG_UNKNOWN_OP);
SAME(FORNAX_TCMU_UFLAG_READ_LEN, TCMU_UFLAG_READ_LEN);

/* A translation unit must hold a definition. */
int fornax_tcmu_layout_checked = 1;
