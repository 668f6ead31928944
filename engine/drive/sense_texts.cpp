#include "engine/drive/sense_texts.h"

#include "engine/base/messages.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <string>

namespace fornax {
namespace {

constexpr int kAny = -1;

constexpr const char* kCheckConditionText = "CHECK CONDITION";
constexpr const char* kUnknownText = "UNKNOWN";

enum class TStatusKind : uint8_t {
  Plain,
  CheckCondition,  // the text comes from the sense data
  TargetBusy,
};

struct TStatusRow {
  int SrbStatus;
  int HostAdapterStatus;
  int TargetStatus;
  const char* Text;
  TStatusKind Kind = TStatusKind::Plain;
};

// Status texts. The rows do not overlap; a combination without a row is
// "UNKNOWN".
constexpr TStatusRow kStatusTexts[] = {
    {SS_PENDING, kAny, kAny, ""},
    {SS_COMP, kAny, kAny, ""},
    {SS_ABORTED, kAny, kAny, kMsgAbortedByUser},
    {SS_ABORT_FAIL, kAny, kAny, kMsgAbortedByUser},
    // Some transports report a failed command with a target status of GOOD;
    // the drive still holds sense data for it.
    {SS_ERR, HASTAT_OK, STATUS_GOOD, kCheckConditionText, TStatusKind::CheckCondition},
    {SS_ERR, HASTAT_OK, STATUS_CHKCOND, kCheckConditionText, TStatusKind::CheckCondition},
    {SS_ERR, HASTAT_OK, STATUS_BUSY, "TARGET BUSY", TStatusKind::TargetBusy},
    {SS_ERR, HASTAT_OK, STATUS_RESCONF, "TARGET RESERVATION CONFLICT"},
    {SS_ERR, HASTAT_OK, STATUS_QFULL, "TARGET QUEUE FULL"},
    {SS_ERR, HASTAT_TIMEOUT, kAny, "COMMAND TIMEOUT"},
    {SS_ERR, HASTAT_COMMAND_TIMEOUT, kAny, "SRB TIMEOUT"},
    {SS_ERR, HASTAT_MESSAGE_REJECT, kAny, "MESSAGE REJECT"},
    {SS_ERR, HASTAT_BUS_RESET, kAny, "BUS RESET"},
    {SS_ERR, HASTAT_PARITY_ERROR, kAny, "PARITY ERROR"},
    {SS_ERR, HASTAT_REQUEST_SENSE_FAILED, kAny, "REQUEST SENSE FAILED"},
    {SS_ERR, HASTAT_SEL_TO, kAny, "SELECTION TIMEOUT"},
    {SS_ERR, HASTAT_DO_DU, kAny, "DATA OVERRUN"},
    {SS_ERR, HASTAT_BUS_FREE, kAny, "UNEXPECTED BUS FREE"},
    {SS_INVALID_CMD, kAny, kAny, "INVALID REQUEST"},
    {SS_INVALID_HA, kAny, kAny, "INVALID HOST ADAPTER"},
    {SS_NO_DEVICE, kAny, kAny, "NO DEVICE"},
    {SS_INVALID_SRB, kAny, kAny, "INVALID SRB"},
    {SS_BUFFER_ALIGN, kAny, kAny, "BUFFER ALIGNMENT"},
    {SS_ASPI_IS_BUSY, kAny, kAny, "ASPI IS BUSY"},
    {SS_BUFFER_TOO_BIG, kAny, kAny, "BUFFER TOO BIG"},
};

constexpr bool Matches(int pattern, uint8_t value) { return pattern == kAny || pattern == value; }

const TStatusRow* FindStatus(uint8_t srbStatus, uint8_t hostAdapterStatus, uint8_t targetStatus) {
  for (const TStatusRow& row : kStatusTexts) {
    if (Matches(row.SrbStatus, srbStatus) && Matches(row.HostAdapterStatus, hostAdapterStatus) &&
        Matches(row.TargetStatus, targetStatus)) {
      return &row;
    }
  }
  return nullptr;
}

// Sense key texts, indexed by the key. Keys 9 (vendor specific) and C
// (obsolete) have none: the status text stays. Key 0 is refined by the
// flags of byte 2 below.
constexpr std::array<const char*, 16> kSenseKeyTexts = {
    "NO ADDITIONAL SENSE INFORMATION",
    "RECOVERED ERROR",
    "NOT READY",
    "MEDIUM ERROR",
    "HARDWARE ERROR",
    "ILLEGAL REQUEST",
    "UNIT ATTENTION",
    "DATA PROTECT",
    "ERASE CHECK",
    nullptr,
    "COPYABORTED",
    "ABORTED COMMAND",
    nullptr,
    "VOLUME OVERFLOW",
    "MISCOMPARE",
    "RESERVED",
};

constexpr uint8_t kFilemarkFlag = 0x80;
constexpr uint8_t kEndOfMediumFlag = 0x40;
constexpr uint8_t kIncorrectLengthFlag = 0x20;

struct TSenseRow {
  uint8_t Asc;
  uint8_t Ascq;
  const char* Text;
};

// Additional sense codes a CD/DVD recorder may report, sorted by ASC and
// ASCQ for the binary search. The texts are the descriptions the SCSI
// command standards give each pair, in capitals; a few keep an older or
// shortened wording ("INITIALIZING CMD. REQUIRED") so that log lines read
// the same across versions.
constexpr TSenseRow kSenseTexts[] = {
    {0x00, 0x00, "NO ADDITIONAL SENSE INFORMATION"},
    {0x00, 0x06, "I/O PROCESS TERMINATED"},
    {0x00, 0x11, "AUDIO PLAY OPERATION IN PROGRESS"},
    {0x00, 0x12, "AUDIO PLAY OPERATION PAUSED"},
    {0x00, 0x13, "AUDIO PLAY OPERATION SUCCESSFULLY COMPLETED"},
    {0x00, 0x14, "AUDIO PLAY OPERATION STOPPED DUE TO ERROR"},
    {0x00, 0x15, "NO CURRENT AUDIO STATUS TO RETURN"},
    {0x00, 0x16, "OPERATION IN PROGRESS"},
    {0x00, 0x17, "CLEANING REQUESTED"},
    {0x02, 0x00, "NO SEEK COMPLETE"},
    {0x04, 0x00, "LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE"},
    {0x04, 0x01, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY"},
    {0x04, 0x02, "LOGICAL UNIT NOT READY, INITIALIZING CMD. REQUIRED"},
    {0x04, 0x03, "LOGICAL UNIT NOT READY, MANUAL INTERVENTION REQUIRED"},
    {0x04, 0x04, "LOGICAL UNIT NOT READY, FORMAT IN PROGRESS"},
    {0x04, 0x07, "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS"},
    {0x04, 0x08, "LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS"},
    {0x04, 0x09, "LOGICAL UNIT NOT READY, SELF-TEST IN PROGRESS"},
    {0x05, 0x00, "LOGICAL UNIT DOES NOT RESPOND TO SELECTION"},
    {0x06, 0x00, "NO REFERENCE POSITION FOUND"},
    {0x07, 0x00, "MULTIPLE PERIPHERAL DEVICES SELECTED"},
    {0x08, 0x00, "LOGICAL UNIT COMMUNICATION FAILURE"},
    {0x08, 0x01, "LOGICAL UNIT COMMUNICATION TIME-OUT"},
    {0x08, 0x02, "LOGICAL UNIT COMMUNICATION PARITY ERROR"},
    {0x08, 0x03, "LOGICAL UNIT COMMUNICATION CRC ERROR (ULTRA-DMA/32)"},
    {0x08, 0x04, "UNREACHABLE COPY TARGET"},
    {0x09, 0x00, "TRACK FOLLOWING ERROR"},
    {0x09, 0x01, "TRACKING SERVO FAILURE"},
    {0x09, 0x02, "FOCUS SERVO FAILURE"},
    {0x09, 0x03, "SPINDLE SERVO FAILURE"},
    {0x09, 0x04, "HEAD SELECT FAULT"},
    {0x0A, 0x00, "ERROR LOG OVERFLOW"},
    {0x0B, 0x00, "WARNING"},
    {0x0B, 0x01, "WARNING - SPECIFIED TEMPERATURE EXCEEDED"},
    {0x0B, 0x02, "WARNING - ENCLOSURE DEGRADED"},
    {0x0C, 0x00, "WRITE ERROR"},
    {0x0C, 0x07, "WRITE ERROR - RECOVERY NEEDED"},
    {0x0C, 0x08, "WRITE ERROR - RECOVERY FAILED"},
    {0x0C, 0x09, "WRITE ERROR - LOSS OF STREAMING"},
    {0x0C, 0x0A, "WRITE ERROR - PADDING BLOCKS ADDED"},
    {0x0D, 0x00, "ERROR DETECTED BY THIRD PARTY TEMPORARY INITIATOR"},
    {0x0D, 0x01, "THIRD PARTY DEVICE FAILURE"},
    {0x0D, 0x02, "COPY TARGET DEVICE NOT REACHABLE"},
    {0x0D, 0x03, "INCORRECT COPY TARGET DEVICE TYPE"},
    {0x0D, 0x04, "COPY TARGET DEVICE DATA UNDERRUN"},
    {0x0D, 0x05, "COPY TARGET DEVICE DATA OVERRUN"},
    {0x11, 0x00, "UNRECOVERED READ ERROR"},
    {0x11, 0x01, "READ RETRIES EXHAUSTED"},
    {0x11, 0x02, "ERROR TOO LONG TO CORRECT"},
    {0x11, 0x05, "L-EC UNCORRECTABLE ERROR"},
    {0x11, 0x06, "CIRC UNRECOVERED ERROR"},
    {0x11, 0x0D, "DE-COMPRESSION CRC ERROR"},
    {0x11, 0x0E, "CANNOT DECOMPRESS USING DECLARED ALGORITHM"},
    {0x11, 0x0F, "ERROR READING UPC/EAN NUMBER"},
    {0x11, 0x10, "ERROR READING ISRC NUMBER"},
    {0x11, 0x11, "READ ERROR - LOSS OF STREAMING"},
    {0x14, 0x00, "RECORDED ENTITY NOT FOUND"},
    {0x14, 0x01, "RECORD NOT FOUND"},
    {0x15, 0x00, "RANDOM POSITIONING ERROR"},
    {0x15, 0x01, "MECHANICAL POSITIONING ERROR"},
    {0x15, 0x02, "POSITIONING ERROR DETECTED BY READ OF MEDIUM"},
    {0x17, 0x00, "RECOVERED DATA WITH NO ERROR CORRECTION APPLIED"},
    {0x17, 0x01, "RECOVERED DATA WITH RETRIES"},
    {0x17, 0x02, "RECOVERED DATA WITH POSITIVE HEAD OFFSET"},
    {0x17, 0x03, "RECOVERED DATA WITH NEGATIVE HEAD OFFSET"},
    {0x17, 0x04, "RECOVERED DATA WITH RETRIES AND/OR CIRC APPLIED"},
    {0x17, 0x05, "RECOVERED DATA USING PREVIOUS SECTOR ID"},
    {0x17, 0x07, "RECOVERED DATA WITHOUT ECC - RECOMMEND REASSIGNMENT"},
    {0x17, 0x08, "RECOVERED DATA WITHOUT ECC - RECOMMEND REWRITE"},
    {0x17, 0x09, "RECOVERED DATA WITHOUT ECC - DATA REWRITTEN"},
    {0x18, 0x00, "RECOVERED DATA WITH ERROR CORRECTION APPLIED"},
    {0x18, 0x01, "RECOVERED DATA WITH ERROR CORR. & RETRIES APPLIED"},
    {0x18, 0x02, "RECOVERED DATA - DATA AUTO-REALLOCATED"},
    {0x18, 0x03, "RECOVERED DATA WITH CIRC"},
    {0x18, 0x04, "RECOVERED DATA WITH L-EC"},
    {0x18, 0x05, "RECOVERED DATA - RECOMMEND REASSIGNMENT"},
    {0x18, 0x06, "RECOVERED DATA - RECOMMEND REWRITE"},
    {0x18, 0x08, "RECOVERED DATA WITH LINKING"},
    {0x1A, 0x00, "PARAMETER LIST LENGTH ERROR"},
    {0x1B, 0x00, "SYNCHRONOUS DATA TRANSFER ERROR"},
    {0x1D, 0x00, "MISCOMPARE DURING VERIFY OPERATION"},
    {0x20, 0x00, "INVALID COMMAND OPERATION CODE"},
    {0x21, 0x00, "LOGICAL BLOCK ADDRESS OUT OF RANGE"},
    {0x21, 0x01, "INVALID ELEMENT ADDRESS"},
    {0x21, 0x02, "INVALID ADDRESS FOR WRITE"},
    {0x24, 0x00, "INVALID FIELD IN CDB"},
    {0x24, 0x01, "CDB DECRYPTION ERROR"},
    {0x25, 0x00, "LOGICAL UNIT NOT SUPPORTED"},
    {0x26, 0x00, "INVALID FIELD IN PARAMETER LIST"},
    {0x26, 0x01, "PARAMETER NOT SUPPORTED"},
    {0x26, 0x02, "PARAMETER VALUE INVALID"},
    {0x26, 0x03, "THRESHOLD PARAMETERS NOT SUPPORTED"},
    {0x26, 0x04, "INVALID RELEASE OF PERSISTENT RESERVATION"},
    {0x26, 0x05, "DATA DECRYPTION ERROR"},
    {0x26, 0x06, "TOO MANY TARGET DESCRIPTORS"},
    {0x26, 0x07, "UNSUPPORTED TARGET DESCRIPTOR TYPE CODE"},
    {0x26, 0x08, "TOO MANY SEGMENT DESCRIPTORS"},
    {0x26, 0x09, "UNSUPPORTED SEGMENT DESCRIPTOR TYPE CODE"},
    {0x26, 0x0A, "UNEXPECTED INEXACT SEGMENT"},
    {0x26, 0x0B, "INLINE DATA LENGTH EXCEEDED"},
    {0x26, 0x0C, "INVALID OPERATION FOR COPY SOURCE OR DESTINATION"},
    {0x26, 0x0D, "COPY SEGMENT GRANULARITY VIOLATION"},
    {0x27, 0x00, "WRITE PROTECTED"},
    {0x27, 0x01, "HARDWARE WRITE PROTECTED"},
    {0x27, 0x02, "LOGICAL UNIT SOFTWARE WRITE PROTECTED"},
    {0x27, 0x03, "ASSOCIATED WRITE PROTECT"},
    {0x27, 0x04, "PERSISTENT WRITE PROTECT"},
    {0x27, 0x05, "PERMANENT WRITE PROTECT"},
    {0x27, 0x06, "CONDITIONAL WRITE PROTECT"},
    {0x28, 0x00, "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED"},
    {0x28, 0x01, "IMPORT OR EXPORT ELEMENT ACCESSED"},
    {0x29, 0x00, "POWER ON, RESET, OR BUS DEVICE RESET OCCURRED"},
    {0x29, 0x01, "POWER ON OCCURRED"},
    {0x29, 0x02, "SCSI BUS RESET OCCURRED"},
    {0x29, 0x03, "BUS DEVICE RESET FUNCTION OCCURRED"},
    {0x29, 0x04, "DEVICE INTERNAL RESET"},
    {0x29, 0x05, "TRANSCEIVER MODE CHANGED TO SINGLE-ENDED"},
    {0x29, 0x06, "TRANSCEIVER MODE CHANGED TO LVD"},
    {0x2A, 0x00, "PARAMETERS CHANGED"},
    {0x2A, 0x01, "MODE PARAMETERS CHANGED"},
    {0x2A, 0x02, "LOG PARAMETERS CHANGED"},
    {0x2A, 0x03, "RESERVATIONS PREEMPTED"},
    {0x2A, 0x04, "RESERVATIONS RELEASED"},
    {0x2A, 0x05, "REGISTRATIONS PREEMPTED"},
    {0x2B, 0x00, "COPY CANNOT EXECUTE SINCE HOST CANNOT DISCONNECT"},
    {0x2C, 0x00, "COMMAND SEQUENCE ERROR"},
    {0x2C, 0x03, "CURRENT PROGRAM AREA IS NOT EMPTY"},
    {0x2C, 0x04, "CURRENT PROGRAM AREA IS EMPTY"},
    {0x2C, 0x06, "PERSISTENT PREVENT CONFLICT"},
    {0x2E, 0x00, "INSUFFICIENT TIME FOR OPERATION"},
    {0x2F, 0x00, "COMMANDS CLEARED BY ANOTHER INITIATOR"},
    {0x30, 0x00, "INCOMPATIBLE MEDIUM INSTALLED"},
    {0x30, 0x01, "CANNOT READ MEDIUM - UNKNOWN FORMAT"},
    {0x30, 0x02, "CANNOT READ MEDIUM - INCOMPATIBLE FORMAT"},
    {0x30, 0x03, "CLEANING CARTRIDGE INSTALLED"},
    {0x30, 0x04, "CANNOT WRITE MEDIUM - UNKNOWN FORMAT"},
    {0x30, 0x05, "CANNOT WRITE MEDIUM - INCOMPATIBLE FORMAT"},
    {0x30, 0x06, "CANNOT FORMAT MEDIUM - INCOMPATIBLE MEDIUM"},
    {0x30, 0x07, "CLEANING FAILURE"},
    {0x30, 0x08, "CANNOT WRITE - APPLICATION CODE MISMATCH"},
    {0x30, 0x09, "CURRENT SESSION NOT FIXATED FOR APPEND"},
    {0x30, 0x10, "MEDIUM NOT FORMATTED"},
    {0x31, 0x00, "MEDIUM FORMAT CORRUPTED"},
    {0x31, 0x01, "FORMAT COMMAND FAILED"},
    {0x31, 0x02, "ZONED FORMATTING FAILED DUE TO SPARE LINKING"},
    {0x34, 0x00, "ENCLOSURE FAILURE"},
    {0x35, 0x00, "ENCLOSURE SERVICES FAILURE"},
    {0x35, 0x01, "UNSUPPORTED ENCLOSURE FUNCTION"},
    {0x35, 0x02, "ENCLOSURE SERVICES UNAVAILABLE"},
    {0x35, 0x03, "ENCLOSURE SERVICES TRANSFER FAILURE"},
    {0x35, 0x04, "ENCLOSURE SERVICES TRANSFER REFUSED"},
    {0x37, 0x00, "ROUNDED PARAMETER"},
    {0x39, 0x00, "SAVING PARAMETERS NOT SUPPORTED"},
    {0x3A, 0x00, "MEDIUM NOT PRESENT"},
    {0x3A, 0x01, "MEDIUM NOT PRESENT - TRAY CLOSED"},
    {0x3A, 0x02, "MEDIUM NOT PRESENT - TRAY OPEN"},
    {0x3A, 0x03, "MEDIUM NOT PRESENT - LOADABLE"},
    {0x3A, 0x04, "MEDIUM NOT PRESENT - MEDIUM AUXILIARY MEMORY ACCESSIBLE"},
    {0x3B, 0x0D, "MEDIUM DESTINATION ELEMENT FULL"},
    {0x3B, 0x0E, "MEDIUM SOURCE ELEMENT EMPTY"},
    {0x3B, 0x0F, "END OF MEDIUM REACHED"},
    {0x3B, 0x11, "MEDIUM MAGAZINE NOT ACCESSIBLE"},
    {0x3B, 0x12, "MEDIUM MAGAZINE REMOVED"},
    {0x3B, 0x13, "MEDIUM MAGAZINE INSERTED"},
    {0x3B, 0x14, "MEDIUM MAGAZINE LOCKED"},
    {0x3B, 0x15, "MEDIUM MAGAZINE UNLOCKED"},
    {0x3B, 0x16, "MECHANICAL POSITIONING OR CHANGER ERROR"},
    {0x3D, 0x00, "INVALID BITS IN IDENTIFY MESSAGE"},
    {0x3E, 0x00, "LOGICAL UNIT HAS NOT SELF-CONFIGURED YET"},
    {0x3E, 0x01, "LOGICAL UNIT FAILURE"},
    {0x3E, 0x02, "TIMEOUT ON LOGICAL UNIT"},
    {0x3E, 0x03, "LOGICAL UNIT FAILED SELF-TEST"},
    {0x3E, 0x04, "LOGICAL UNIT UNABLE TO UPDATE SELF-TEST LOG"},
    {0x3F, 0x00, "TARGET OPERATING CONDITIONS HAVE CHANGED"},
    {0x3F, 0x01, "MICROCODE HAS BEEN CHANGED"},
    {0x3F, 0x02, "CHANGED OPERATING DEFINITION"},
    {0x3F, 0x03, "INQUIRY DATA HAS CHANGED"},
    {0x3F, 0x04, "COMPONENT DEVICE ATTACHED"},
    {0x3F, 0x05, "DEVICE IDENTIFIER CHANGED"},
    {0x3F, 0x06, "REDUNDANCY GROUP CREATED OR MODIFIED"},
    {0x3F, 0x07, "REDUNDANCY GROUP DELETED"},
    {0x3F, 0x08, "SPARE CREATED OR MODIFIED"},
    {0x3F, 0x09, "SPARE DELETED"},
    {0x3F, 0x0A, "VOLUME SET CREATED OR MODIFIED"},
    {0x3F, 0x0B, "VOLUME SET DELETED"},
    {0x3F, 0x0C, "VOLUME SET DEASSIGNED"},
    {0x3F, 0x0D, "VOLUME SET REASSIGNED"},
    {0x3F, 0x0E, "REPORTED LUNS DATA HAS CHANGED"},
    {0x3F, 0x0F, "ECHO BUFFER OVERWRITTEN"},
    {0x3F, 0x10, "MEDIUM LOADABLE"},
    {0x3F, 0x11, "MEDIUM AUXILIARY MEMORY ACCESSIBLE"},
    {0x43, 0x00, "MESSAGE ERROR"},
    {0x44, 0x00, "INTERNAL TARGET FAILURE"},
    {0x45, 0x00, "SELECT OR RESELECT FAILURE"},
    {0x46, 0x00, "UNSUCCESSFUL SOFT RESET"},
    {0x47, 0x00, "SCSI PARITY ERROR"},
    {0x47, 0x01, "DATA PHASE CRC ERROR DETECTED"},
    {0x47, 0x02, "SCSI PARITY ERROR DETECTED DURING ST DATA PHASE"},
    {0x47, 0x03, "INFORMATION UNIT CRC ERROR DETECTED"},
    {0x47, 0x04, "ASYNCHRONOUS INFORMATION PROTECTION ERROR DETECTED"},
    {0x48, 0x00, "INITIATOR DETECTED ERROR MESSAGE RECEIVED"},
    {0x49, 0x00, "INVALID MESSAGE ERROR"},
    {0x4A, 0x00, "COMMAND PHASE ERROR"},
    {0x4B, 0x00, "DATA PHASE ERROR"},
    {0x4C, 0x00, "LOGICAL UNIT FAILED SELF-CONFIGURATION"},
    {0x4E, 0x00, "OVERLAPPED COMMANDS ATTEMPTED"},
    {0x51, 0x00, "ERASE FAILURE"},
    {0x51, 0x01, "ERASE FAILURE - INCOMPLETE ERASE OPERATION DETECTED"},
    {0x53, 0x00, "MEDIA LOAD OR EJECT FAILED"},
    {0x53, 0x02, "MEDIUM REMOVAL PREVENTED"},
    {0x55, 0x02, "INSUFFICIENT RESERVATION RESOURCES"},
    {0x55, 0x03, "INSUFFICIENT RESOURCES"},
    {0x55, 0x04, "INSUFFICIENT REGISTRATION RESOURCES"},
    {0x57, 0x00, "UNABLE TO RECOVER TABLE-OF-CONTENTS"},
    {0x5A, 0x00, "OPERATOR REQUEST OR STATE CHANGE INPUT"},
    {0x5A, 0x01, "OPERATOR MEDIUM REMOVAL REQUEST"},
    {0x5A, 0x02, "OPERATOR SELECTED WRITE PROTECT"},
    {0x5A, 0x03, "OPERATOR SELECTED WRITE PERMIT"},
    {0x5B, 0x00, "LOG EXCEPTION"},
    {0x5B, 0x01, "THRESHOLD CONDITION MET"},
    {0x5B, 0x02, "LOG COUNTER AT MAXIMUM"},
    {0x5B, 0x03, "LOG LIST CODES EXHAUSTED"},
    {0x5D, 0x00, "FAILURE PREDICTION THRESHOLD EXCEEDED"},
    {0x5D, 0x01, "MEDIA FAILURE PREDICTION THRESHOLD EXCEEDED"},
    {0x5D, 0x02, "LOGICAL UNIT FAILURE PREDICTION THRESHOLD EXCEEDED"},
    {0x5D, 0x03, "SPARE AREA EXHAUSTION PREDICTION THRESHOLD EXCEEDED"},
    {0x5D, 0xFF, "FAILURE PREDICTION THRESHOLD EXCEEDED (FALSE)"},
    {0x5E, 0x00, "LOW POWER CONDITION ON"},
    {0x5E, 0x01, "IDLE CONDITION ACTIVATED BY TIMER"},
    {0x5E, 0x02, "STANDBY CONDITION ACTIVATED BY TIMER"},
    {0x5E, 0x03, "IDLE CONDITION ACTIVATED BY COMMAND"},
    {0x5E, 0x04, "STANDBY CONDITION ACTIVATED BY COMMAND"},
    {0x63, 0x00, "END OF USER AREA ENCOUNTERED ON THIS TRACK"},
    {0x63, 0x01, "PACKET DOES NOT FIT IN AVAILABLE SPACE"},
    {0x64, 0x00, "ILLEGAL MODE FOR THIS TRACK"},
    {0x64, 0x01, "INVALID PACKET SIZE"},
    {0x65, 0x00, "VOLTAGE FAULT"},
    {0x6F, 0x00, "COPY PROTECTION KEY EXCHANGE FAILURE - AUTHENTICATION FAILURE"},
    {0x6F, 0x01, "COPY PROTECTION KEY EXCHANGE FAILURE - KEY NOT PRESENT"},
    {0x6F, 0x02, "COPY PROTECTION KEY EXCHANGE FAILURE - KEY NOT ESTABLISHED"},
    {0x6F, 0x03, "READ OF SCRAMBLED SECTOR WITHOUT AUTHENTICATION"},
    {0x6F, 0x04, "MEDIA REGION CODE IS MISMATCHED TO LOGICAL UNIT REGION"},
    {0x6F, 0x05, "DRIVE REGION MUST BE PERMANENT/REGION RESET COUNT ERROR"},
    {0x72, 0x00, "SESSION FIXATION ERROR"},
    {0x72, 0x01, "SESSION FIXATION ERROR WRITING LEAD-IN"},
    {0x72, 0x02, "SESSION FIXATION ERROR WRITING LEAD-OUT"},
    {0x72, 0x03, "SESSION FIXATION ERROR - INCOMPLETE TRACK IN SESSION"},
    {0x72, 0x04, "EMPTY OR PARTIALLY WRITTEN RESERVED TRACK"},
    {0x72, 0x05, "NO MORE TRACK RESERVATIONS ALLOWED"},
    {0x73, 0x00, "CD CONTROL ERROR"},
    {0x73, 0x01, "POWER CALIBRATION AREA ALMOST FULL"},
    {0x73, 0x02, "POWER CALIBRATION AREA IS FULL"},
    {0x73, 0x03, "POWER CALIBRATION AREA ERROR"},
    {0x73, 0x04, "PROGRAM MEMORY AREA UPDATE FAILURE"},
    {0x73, 0x05, "PROGRAM MEMORY AREA IS FULL"},
    {0x73, 0x06, "RMA/PMA IS ALMOST FULL"},
};

constexpr bool SenseRowBefore(const TSenseRow& a, const TSenseRow& b) {
  return a.Asc != b.Asc ? a.Asc < b.Asc : a.Ascq < b.Ascq;
}

static_assert(std::is_sorted(std::begin(kSenseTexts), std::end(kSenseTexts), SenseRowBefore) &&
                  std::adjacent_find(std::begin(kSenseTexts), std::end(kSenseTexts),
                                     [](const TSenseRow& a, const TSenseRow& b) {
                                       return !SenseRowBefore(a, b);
                                     }) == std::end(kSenseTexts),
              "additional sense rows must be sorted and unique");

constexpr size_t kSenseAsc = 12;
constexpr size_t kSenseAscq = 13;
constexpr size_t kSenseAdditionalLength = 7;
constexpr size_t kSenseKeyByte = 2;

}  // namespace

std::string StatusText(uint8_t srbStatus, uint8_t hostAdapterStatus, uint8_t targetStatus) {
  const TStatusRow* row = FindStatus(srbStatus, hostAdapterStatus, targetStatus);
  return row != nullptr ? row->Text : kUnknownText;
}

std::string SenseKeyText(const uint8_t* sense) {
  if (sense[0] == 0) return "";
  // Fixed format only, current (0x70) or deferred (0x71) errors, with or
  // without the valid bit; descriptor format (0x72, 0x73) is not decoded.
  if ((sense[0] & 0x7E) != 0x70) return kUnknownText;
  const uint8_t byte2 = sense[kSenseKeyByte];
  const uint8_t key = byte2 & 0x0F;
  if (key == 0) {
    if (byte2 & kFilemarkFlag) return "FILEMARK";
    if (byte2 & kEndOfMediumFlag) return "END OF MEDIA";
    if (byte2 & kIncorrectLengthFlag) return "ILLEGAL LENGTH";
  }
  const char* text = kSenseKeyTexts[key];
  return text != nullptr ? text : kCheckConditionText;
}

std::string SenseText(uint8_t asc, uint8_t ascq) {
  const TSenseRow wanted{asc, ascq, nullptr};
  const auto it = std::lower_bound(std::begin(kSenseTexts), std::end(kSenseTexts), wanted, SenseRowBefore);
  if (it == std::end(kSenseTexts) || it->Asc != asc || it->Ascq != ascq) return "";
  return it->Text;
}

bool IsNoMediumSense(const uint8_t* sense) {
  return (sense[0] & 0x7E) == 0x70 && (sense[kSenseKeyByte] & 0x0F) == 0x02 && sense[kSenseAsc] == 0x3A;
}

TErrorText BuildErrorText(const SRB_ExecSCSICmd& srb) {
  TErrorText result;
  const uint8_t* sense = srb.SenseArea;
  const TStatusRow* row = FindStatus(srb.SRB_Status, srb.SRB_HaStat, srb.SRB_TargStat);
  if (row == nullptr) {
    result.Text = kUnknownText;
  } else if (row->Kind == TStatusKind::CheckCondition) {
    result.Text = SenseKeyText(sense);
  } else {
    result.Text = row->Text;
    result.TargetBusy = row->Kind == TStatusKind::TargetBusy;
  }

  // The additional sense bytes are appended whatever the status said: a
  // drive that sent them had something to say about this command.
  if (sense[kSenseAdditionalLength] != 0) {
    const uint8_t asc = sense[kSenseAsc];
    const uint8_t ascq = sense[kSenseAscq];
    std::string additional = SenseText(asc, ascq);
    if (additional.empty()) additional = std::to_string(asc) + "," + std::to_string(ascq);
    result.Text += " (" + additional + ")";
  }
  return result;
}

}  // namespace fornax
