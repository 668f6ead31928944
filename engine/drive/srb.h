/* SCSI request blocks: the records in which every command to a drive travels,
 * handed to a transport's SendASPI32Command. The engine and every transport
 * library (the pass-through emulation, the simulated recorder, any external
 * manager built for Fornax) compile this one header, so they agree on the
 * layout: the fields and their order are those of the ASPI interface, with
 * pointer-sized buffer and post fields. */
#ifndef FORNAX_ENGINE_DRIVE_SRB_H
#define FORNAX_ENGINE_DRIVE_SRB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* SRB commands (byte 0) */
#define SC_HA_INQUIRY 0x00
#define SC_GET_DEV_TYPE 0x01
#define SC_EXEC_SCSI_CMD 0x02
#define SC_ABORT_SRB 0x03
#define SC_GET_DISK_INFO 0x06

/* SRB status (byte 1) */
#define SS_PENDING 0x00
#define SS_COMP 0x01
#define SS_ABORTED 0x02
#define SS_ABORT_FAIL 0x03
#define SS_ERR 0x04
#define SS_INVALID_CMD 0x80
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_INVALID_SRB 0xE0
#define SS_BUFFER_ALIGN 0xE1
#define SS_ASPI_IS_BUSY 0xE5
#define SS_BUFFER_TOO_BIG 0xE6
#define SS_NO_ADAPTERS 0xE8

/* SRB flags (byte 3) */
#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10
#define SRB_EVENT_NOTIFY 0x40

/* Host adapter status */
#define HASTAT_OK 0x00
#define HASTAT_TIMEOUT 0x09
#define HASTAT_COMMAND_TIMEOUT 0x0B
#define HASTAT_MESSAGE_REJECT 0x0D
#define HASTAT_BUS_RESET 0x0E
#define HASTAT_PARITY_ERROR 0x0F
#define HASTAT_REQUEST_SENSE_FAILED 0x10
#define HASTAT_SEL_TO 0x11
#define HASTAT_DO_DU 0x12
#define HASTAT_BUS_FREE 0x13

/* Target status: the SCSI status byte */
#define STATUS_GOOD 0x00
#define STATUS_CHKCOND 0x02
#define STATUS_BUSY 0x08
#define STATUS_RESCONF 0x18
#define STATUS_QFULL 0x28

#define SRB_SENSE_AREA 33
#define SRB_CDB_BYTES 16

/* Header common to every SRB. */
typedef struct {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
} SRB_Header;

/* SC_HA_INQUIRY: 60 bytes. */
typedef struct {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t HA_Count;
  uint8_t HA_SCSI_ID;
  char HA_ManagerId[16];
  char HA_Identifier[16];
  /* bytes 0-1 alignment mask, 2 residual support, 3 max targets, 4-7 max transfer */
  uint8_t HA_Unique[16];
  uint16_t HA_Rsvd1;
} SRB_HAInquiry;

/* SC_GET_DEV_TYPE */
typedef struct {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint8_t SRB_DeviceType; /* 0x05 CD/DVD, 0x1F unknown */
  uint8_t SRB_Rsvd1;
} SRB_GDEVBlock;

/* SC_EXEC_SCSI_CMD */
typedef struct {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint16_t SRB_Rsvd1;
  uint32_t SRB_BufLen;
  uint8_t* SRB_BufPointer;
  uint8_t SRB_SenseLen;
  uint8_t SRB_CDBLen;
  uint8_t SRB_HaStat;
  uint8_t SRB_TargStat;
  void* SRB_PostProc; /* with SRB_EVENT_NOTIFY: an SRB_PostEvent to signal */
  uint8_t SRB_Rsvd2[20];
  uint8_t CDBByte[SRB_CDB_BYTES];
  uint8_t SenseArea[SRB_SENSE_AREA];
} SRB_ExecSCSICmd;

/* What the post field points at when SRB_EVENT_NOTIFY is set: a transport
 * that completes a command later than SendASPI32Command returns calls
 * Signal(event) once the SRB is final. */
typedef struct SRB_PostEvent {
  void (*Signal)(struct SRB_PostEvent* event);
} SRB_PostEvent;

/* SC_ABORT_SRB */
typedef struct {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  void* SRB_ToAbort;
} SRB_Abort;

/* SC_GET_DISK_INFO: 24 bytes. */
typedef struct {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint8_t SRB_DriveFlags;
  uint8_t SRB_Int13HDriveInfo; /* drive number: the n of /dev/srN */
  uint8_t SRB_Heads;
  uint8_t SRB_Sectors;
  uint8_t SRB_Rsvd1[10];
} SRB_GetDiskInfo;

/* The two entry points every transport exports with C linkage. */
typedef uint32_t (*GetASPI32SupportInfoFn)(void);
typedef uint32_t (*SendASPI32CommandFn)(void* srb);

#ifdef __cplusplus
}  /* extern "C" */
static_assert(sizeof(SRB_HAInquiry) == 60, "host adapter inquiry SRB");
static_assert(sizeof(SRB_GetDiskInfo) == 24, "disk information SRB");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12, "data length at 12");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16, "buffer at 16");
#endif

#endif /* FORNAX_ENGINE_DRIVE_SRB_H */
