/* The simulated recorder: an optical recorder in software, loaded by the
 * engine as an external transport (GetASPI32SupportInfo / SendASPI32Command,
 * see engine/drive/srb.h). Its disc lives in files, so it survives reloads
 * and is shared by every process that loads the library.
 *
 * Control functions return 0 on success and -1 on failure; the reason is then
 * in fornax_sim_last_error(). */
#ifndef FORNAX_SIMDRIVE_H
#define FORNAX_SIMDRIVE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

const char* fornax_sim_last_error(void);

/* Where the drive keeps its state. Default: $FORNAX_SIMDRIVE_DIR, else
 * $XDG_STATE_HOME/fornax/simdrive, else ~/.local/state/fornax/simdrive.
 * The folder holds "lock", "state" (the metadata: a small binary header and
 * two slots of "key value" text, the one in force named by the header) and
 * "disc.data" (the sectors, sparse); an empty folder is a drive with a blank
 * DVD+R. NULL or "" goes back to the default. Processes sharing a folder see
 * one drive; a process killed at any point leaves it as it was before or
 * after the command it was running. */
int fornax_sim_set_state_dir(const char* dir);

/* Media kinds: "cd-r", "cd-rw", "dvd-r", "dvd-rw-ro" (restricted overwrite),
 * "dvd-rw-seq" (sequential), "dvd+r", "dvd+rw", "dvd-ram", "dvd+r-dl". */
int fornax_sim_insert(const char* kind);    /* a blank medium of that kind, tray closed */
int fornax_sim_remove(void);                /* takes the medium out (tray left open) */
int fornax_sim_open_tray(void);
int fornax_sim_close_tray(void);
/* The disc as a flat image: sector N at byte N x 2048, up to the last
 * recorded sector; unrecorded sectors read as zeros. */
int fornax_sim_export(const char* path);
/* A text of a few lines: identity, tray, medium, sessions and tracks. */
int fornax_sim_describe(char* text, size_t size);

/* Faults and timing, for tests. Each lasts until fornax_sim_clear_faults,
 * which also restores the default durations (blank 100 ms, format 100 ms,
 * close 50 ms, OPC 50 ms), border gap and identity. A duration of 0 makes the
 * operation end at once; with the Immed bit the drive answers "in progress"
 * for that long, without it the command itself takes that long (and other
 * processes meanwhile see the operation in progress). */
int fornax_sim_fault_busy(int commands, int target_status_busy); /* next N commands but INQUIRY: BUSY status, or 2/04/08 */
/* Every WRITE (10) covering the block fails with that sense (more than one
 * block may be set). */
int fornax_sim_fault_write_error(uint32_t lba, uint8_t key, uint8_t asc, uint8_t ascq);
/* The same for the next `count` writes covering the block only (count > 0). */
int fornax_sim_fault_write_error_count(uint32_t lba, uint8_t key, uint8_t asc, uint8_t ascq, int count);
/* Every READ (10) covering any of the `count` blocks from `lba` fails with a
 * medium error, 03/11/00 (unrecovered read error), naming the first of those
 * blocks it covers; with times > 0 only the next `times` such reads, 0: every
 * one. (READ (12) is not a command this drive knows.) */
int fornax_sim_fault_read_error(uint32_t lba, uint32_t count, int times);
/* Flips the stored bytes of `count` recorded sectors from `lba` (each byte
 * XOR A5h): reads then return the corrupted bytes without any error. Lasts
 * until the sectors are written again; fornax_sim_clear_faults does not
 * mend them. */
int fornax_sim_fault_corrupt(uint32_t lba, uint32_t count);
/* The process that sends the nth command with this opcode from now on gets
 * the signal before the drive runs it: with SIGINT the command then runs as
 * usual, with SIGKILL the process dies and the disc keeps what the earlier
 * commands recorded. Fires once. */
int fornax_sim_fault_signal(uint8_t opcode, int nth, int signal_number);
/* 0: this process never takes a signal fault (its commands run as if none
 * were set, and the fault stays for another process); a process that serves
 * other programs, such as the virtual recorder, turns them off. 1: the
 * default. */
int fornax_sim_allow_signal_faults(int allow);
int fornax_sim_fault_not_ready(int milliseconds); /* 2/04/01 for that long */
/* The drive's 2 MiB buffer drains at this speed (kB/s, k = 1000): a WRITE
 * that does not fit the free space answers 2/04/08 and takes nothing,
 * SYNCHRONIZE CACHE and closing wait until it is empty, READ BUFFER CAPACITY
 * shows the fill. 0: as fast as possible, the buffer is always empty. */
int fornax_sim_set_write_speed(int kilobytes_per_second);
int fornax_sim_set_durations(int blank_ms, int format_ms, int close_ms);
/* SEND OPC INFORMATION with DoOPC takes this long (default 50 ms). */
int fornax_sim_set_opc_duration(int milliseconds);
/* Session-at-once (SEND CUE SHEET) on a CD that already holds sessions:
 * refused (05/2C/00) unless allowed; real drives differ. */
int fornax_sim_allow_sao_on_appendable(int allow);
/* Blocks between the end of a DVD-R/-RW border and the next one (28,688). */
int fornax_sim_set_border_gap(uint32_t blocks);
int fornax_sim_set_identity(const char* vendor, const char* product, const char* revision);
int fornax_sim_clear_faults(void);
/* Back to the state of a fresh machine: default identity, no faults, a blank
 * DVD+R in the drive. */
int fornax_sim_reset(void);

/* The transport entry points. */
uint32_t GetASPI32SupportInfo(void);
uint32_t SendASPI32Command(void* srb);

/* One SCSI command for a program that is not the engine (a LIO/TCMU
 * handler): the same drive, state and locking as SendASPI32Command.
 * direction: 0 none, 1 data-in, 2 data-out; data/length: the host's buffer.
 * Returns the SCSI status: 0 GOOD, 2 CHECK CONDITION (sense filled, fixed
 * format, 18 bytes, cut to sense_length), 8 BUSY. *transferred: data-in bytes
 * answered (length - *transferred is the residual), or data-out bytes taken.
 * Opcodes the drive does not know answer 05/20/00. */
int fornax_sim_execute(const uint8_t* cdb, size_t cdb_length, int direction, uint8_t* data, uint32_t length,
                       uint32_t* transferred, uint8_t* sense, size_t sense_length);

#ifdef __cplusplus
}
#endif

#endif /* FORNAX_SIMDRIVE_H */
