#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/drive/sense_texts.h"

namespace fornax {
namespace {

// A failed command as a transport hands it back: status bytes plus fixed
// format sense data with a sense key, an additional length and ASC/ASCQ.
SRB_ExecSCSICmd FailedCommand(uint8_t srbStatus, uint8_t hostAdapterStatus, uint8_t targetStatus) {
  SRB_ExecSCSICmd srb;
  std::memset(&srb, 0, sizeof(srb));
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_Status = srbStatus;
  srb.SRB_HaStat = hostAdapterStatus;
  srb.SRB_TargStat = targetStatus;
  return srb;
}

void SetSense(SRB_ExecSCSICmd& srb, uint8_t responseCode, uint8_t byte2, uint8_t additionalLength, uint8_t asc,
              uint8_t ascq) {
  srb.SenseArea[0] = responseCode;
  srb.SenseArea[2] = byte2;
  srb.SenseArea[7] = additionalLength;
  srb.SenseArea[12] = asc;
  srb.SenseArea[13] = ascq;
}

TEST(SenseTexts, IllegalRequestWithAdditionalText) {
  SRB_ExecSCSICmd srb = FailedCommand(0x04, 0x00, 0x02);
  SetSense(srb, 0x70, 0x05, 0x0A, 0x24, 0x00);
  const TErrorText error = BuildErrorText(srb);
  EXPECT_EQ(error.Text, "ILLEGAL REQUEST (INVALID FIELD IN CDB)");
  EXPECT_FALSE(error.TargetBusy);
}

TEST(SenseTexts, NoAdditionalLengthMeansNoAdditionalText) {
  SRB_ExecSCSICmd srb = FailedCommand(0x04, 0x00, 0x02);
  SetSense(srb, 0x70, 0x05, 0x00, 0x24, 0x00);
  EXPECT_EQ(BuildErrorText(srb).Text, "ILLEGAL REQUEST");
}

TEST(SenseTexts, TargetStatusGoodWithErrorIsACheckCondition) {
  EXPECT_EQ(StatusText(0x04, 0x00, 0x00), "CHECK CONDITION");
  SRB_ExecSCSICmd srb = FailedCommand(0x04, 0x00, 0x00);
  SetSense(srb, 0x70, 0x02, 0x0A, 0x3A, 0x01);
  EXPECT_EQ(BuildErrorText(srb).Text, "NOT READY (MEDIUM NOT PRESENT - TRAY CLOSED)");
}

TEST(SenseTexts, KeysWithoutTextKeepCheckConditionAndTheAdditionalText) {
  for (const uint8_t key : {0x09, 0x0C}) {
    SRB_ExecSCSICmd srb = FailedCommand(0x04, 0x00, 0x02);
    SetSense(srb, 0x70, key, 0x0A, 0x24, 0x00);
    EXPECT_EQ(BuildErrorText(srb).Text, "CHECK CONDITION (INVALID FIELD IN CDB)") << "key " << int(key);
  }
}

TEST(SenseTexts, PairWithoutTextShowsItsCodesInDecimal) {
  SRB_ExecSCSICmd srb = FailedCommand(0x04, 0x00, 0x02);
  SetSense(srb, 0x70, 0x03, 0x0A, 0x52, 0x00);
  const std::string text = BuildErrorText(srb).Text;
  EXPECT_EQ(text, "MEDIUM ERROR (82,0)");
  ASSERT_GE(text.size(), 7u);
  EXPECT_EQ(text.substr(text.size() - 7), " (82,0)");

  // Decimal, not hex, for both codes.
  SetSense(srb, 0x70, 0x03, 0x0A, 0xFF, 0x1A);
  EXPECT_EQ(BuildErrorText(srb).Text, "MEDIUM ERROR (255,26)");
  // A known ASC with an unassigned qualifier has no text either.
  SetSense(srb, 0x70, 0x03, 0x0A, 0x24, 0x07);
  EXPECT_EQ(BuildErrorText(srb).Text, "MEDIUM ERROR (36,7)");
}

TEST(SenseTexts, DescriptorFormatIsUnknown) {
  SRB_ExecSCSICmd srb = FailedCommand(0x04, 0x00, 0x02);
  SetSense(srb, 0x72, 0x05, 0x00, 0x00, 0x00);
  EXPECT_EQ(BuildErrorText(srb).Text, "UNKNOWN");
  SetSense(srb, 0x73, 0x05, 0x00, 0x00, 0x00);
  EXPECT_EQ(BuildErrorText(srb).Text, "UNKNOWN");
}

TEST(SenseTexts, ResponseCodesAccepted) {
  uint8_t sense[SRB_SENSE_AREA] = {};
  sense[2] = 0x06;
  for (const uint8_t code : {0x70, 0x71, 0xF0, 0xF1}) {
    sense[0] = code;
    EXPECT_EQ(SenseKeyText(sense), "UNIT ATTENTION") << std::hex << int(code);
  }
  for (const uint8_t code : {0x72, 0xF2, 0x7F, 0x60, 0x01, 0x80}) {
    sense[0] = code;
    EXPECT_EQ(SenseKeyText(sense), "UNKNOWN") << std::hex << int(code);
  }
  sense[0] = 0x00;
  EXPECT_EQ(SenseKeyText(sense), "") << "no sense data at all";
}

TEST(SenseTexts, EverySenseKey) {
  const char* const expected[16] = {
      "NO ADDITIONAL SENSE INFORMATION", "RECOVERED ERROR", "NOT READY",       "MEDIUM ERROR",
      "HARDWARE ERROR",                  "ILLEGAL REQUEST", "UNIT ATTENTION",  "DATA PROTECT",
      "ERASE CHECK",                     "CHECK CONDITION", "COPYABORTED",     "ABORTED COMMAND",
      "CHECK CONDITION",                 "VOLUME OVERFLOW", "MISCOMPARE",      "RESERVED",
  };
  uint8_t sense[SRB_SENSE_AREA] = {0x70};
  for (int key = 0; key < 16; ++key) {
    sense[2] = static_cast<uint8_t>(key);
    EXPECT_EQ(SenseKeyText(sense), expected[key]) << "key " << key;
  }
}

TEST(SenseTexts, FlagsRefineOnlyKeyZero) {
  uint8_t sense[SRB_SENSE_AREA] = {0xF0};
  sense[2] = 0x80 | 0x40 | 0x20;
  EXPECT_EQ(SenseKeyText(sense), "FILEMARK");
  sense[2] = 0x40 | 0x20;
  EXPECT_EQ(SenseKeyText(sense), "END OF MEDIA");
  sense[2] = 0x20;
  EXPECT_EQ(SenseKeyText(sense), "ILLEGAL LENGTH");
  // With a real key the flags are just flags.
  sense[2] = 0x40 | 0x03;
  EXPECT_EQ(SenseKeyText(sense), "MEDIUM ERROR");
  sense[2] = 0x80 | 0x20 | 0x05;
  EXPECT_EQ(SenseKeyText(sense), "ILLEGAL REQUEST");
}

TEST(SenseTexts, TargetBusySetsTheFlag) {
  SRB_ExecSCSICmd srb = FailedCommand(0x04, 0x00, 0x08);
  TErrorText error = BuildErrorText(srb);
  EXPECT_EQ(error.Text, "TARGET BUSY");
  EXPECT_TRUE(error.TargetBusy);

  // Neither the neighbouring target states nor a check condition are busy.
  for (const uint8_t target : {0x02, 0x18, 0x28}) {
    srb = FailedCommand(0x04, 0x00, target);
    SetSense(srb, 0x70, 0x02, 0x0A, 0x04, 0x01);
    EXPECT_FALSE(BuildErrorText(srb).TargetBusy) << int(target);
  }
  // Busy needs a clean host adapter status.
  srb = FailedCommand(0x04, 0x09, 0x08);
  error = BuildErrorText(srb);
  EXPECT_EQ(error.Text, "COMMAND TIMEOUT");
  EXPECT_FALSE(error.TargetBusy);
}

TEST(SenseTexts, AdditionalTextFollowsAnyStatus) {
  // The sense step only replaces a check condition; the bracketed text is
  // added whenever the drive sent additional sense bytes.
  SRB_ExecSCSICmd srb = FailedCommand(0x04, 0x0E, 0x02);
  SetSense(srb, 0x70, 0x06, 0x0A, 0x29, 0x00);
  EXPECT_EQ(BuildErrorText(srb).Text, "BUS RESET (POWER ON, RESET, OR BUS DEVICE RESET OCCURRED)");
}

TEST(SenseTexts, EveryStatusRow) {
  constexpr int kAny = -1;
  struct TRow {
    int SrbStatus;
    int HostAdapterStatus;
    int TargetStatus;
    const char* Text;
  };
  const TRow rows[] = {
      {0x00, kAny, kAny, ""},
      {0x01, kAny, kAny, ""},
      {0x02, kAny, kAny, "OPERATION ABORTED BY USER"},
      {0x03, kAny, kAny, "OPERATION ABORTED BY USER"},
      {0x04, 0x00, 0x00, "CHECK CONDITION"},
      {0x04, 0x00, 0x02, "CHECK CONDITION"},
      {0x04, 0x00, 0x08, "TARGET BUSY"},
      {0x04, 0x00, 0x18, "TARGET RESERVATION CONFLICT"},
      {0x04, 0x00, 0x28, "TARGET QUEUE FULL"},
      {0x04, 0x09, kAny, "COMMAND TIMEOUT"},
      {0x04, 0x0B, kAny, "SRB TIMEOUT"},
      {0x04, 0x0D, kAny, "MESSAGE REJECT"},
      {0x04, 0x0E, kAny, "BUS RESET"},
      {0x04, 0x0F, kAny, "PARITY ERROR"},
      {0x04, 0x10, kAny, "REQUEST SENSE FAILED"},
      {0x04, 0x11, kAny, "SELECTION TIMEOUT"},
      {0x04, 0x12, kAny, "DATA OVERRUN"},
      {0x04, 0x13, kAny, "UNEXPECTED BUS FREE"},
      {0x80, kAny, kAny, "INVALID REQUEST"},
      {0x81, kAny, kAny, "INVALID HOST ADAPTER"},
      {0x82, kAny, kAny, "NO DEVICE"},
      {0xE0, kAny, kAny, "INVALID SRB"},
      {0xE1, kAny, kAny, "BUFFER ALIGNMENT"},
      {0xE5, kAny, kAny, "ASPI IS BUSY"},
      {0xE6, kAny, kAny, "BUFFER TOO BIG"},
      // Any other combination.
      {0x04, 0x00, 0x04, "UNKNOWN"},
      {0x04, 0x00, 0x10, "UNKNOWN"},
      {0x04, 0x00, 0xFF, "UNKNOWN"},
      {0x04, 0x01, kAny, "UNKNOWN"},
      {0x04, 0x0A, kAny, "UNKNOWN"},
      {0x04, 0x0C, kAny, "UNKNOWN"},
      {0x04, 0x14, kAny, "UNKNOWN"},
      {0x04, 0xFF, kAny, "UNKNOWN"},
      {0x05, kAny, kAny, "UNKNOWN"},
      {0x7F, kAny, kAny, "UNKNOWN"},
      {0x83, kAny, kAny, "UNKNOWN"},
      {0xE8, kAny, kAny, "UNKNOWN"},
      {0xFF, kAny, kAny, "UNKNOWN"},
  };
  // An "any" column is tried with the values that give other rows their
  // meaning, and a few without one.
  const std::vector<int> hostAdapterSamples = {0x00, 0x01, 0x09, 0x0B, 0x0E, 0x11, 0x13, 0x14, 0xFF};
  const std::vector<int> targetSamples = {0x00, 0x02, 0x04, 0x08, 0x18, 0x28, 0xFF};
  const auto valuesOf = [&](int column, const std::vector<int>& samples) {
    return column == kAny ? samples : std::vector<int>{column};
  };
  for (const TRow& row : rows) {
    for (const int ha : valuesOf(row.HostAdapterStatus, hostAdapterSamples)) {
      for (const int target : valuesOf(row.TargetStatus, targetSamples)) {
        EXPECT_EQ(StatusText(static_cast<uint8_t>(row.SrbStatus), static_cast<uint8_t>(ha),
                             static_cast<uint8_t>(target)),
                  row.Text)
            << std::hex << row.SrbStatus << "/" << ha << "/" << target;
      }
    }
  }
}

TEST(SenseTexts, StatusTextBecomesTheErrorWhenThereIsNoSense) {
  EXPECT_EQ(BuildErrorText(FailedCommand(0x04, 0x11, 0x00)).Text, "SELECTION TIMEOUT");
  EXPECT_EQ(BuildErrorText(FailedCommand(0x82, 0x00, 0x00)).Text, "NO DEVICE");
  EXPECT_EQ(BuildErrorText(FailedCommand(0x04, 0x00, 0x04)).Text, "UNKNOWN");
  // A check condition whose sense area stayed empty has nothing to show.
  EXPECT_EQ(BuildErrorText(FailedCommand(0x04, 0x00, 0x02)).Text, "");
}

TEST(SenseTexts, AdditionalSenseTableSize) {
  int rows = 0;
  std::set<int> ascs;
  for (int asc = 0; asc < 256; ++asc) {
    for (int ascq = 0; ascq < 256; ++ascq) {
      const std::string text = SenseText(static_cast<uint8_t>(asc), static_cast<uint8_t>(ascq));
      if (text.empty()) continue;
      ++rows;
      ascs.insert(asc);
      for (const char c : text) EXPECT_FALSE(c >= 'a' && c <= 'z') << text;
    }
  }
  EXPECT_EQ(rows, 256);
  EXPECT_EQ(ascs.size(), 69u);
}

TEST(SenseTexts, WellKnownPairs) {
  struct TPair {
    uint8_t Asc;
    uint8_t Ascq;
    const char* Text;
  };
  const TPair pairs[] = {
      {0x00, 0x00, "NO ADDITIONAL SENSE INFORMATION"},
      {0x04, 0x00, "LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE"},
      {0x04, 0x01, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY"},
      {0x04, 0x02, "LOGICAL UNIT NOT READY, INITIALIZING CMD. REQUIRED"},
      {0x04, 0x04, "LOGICAL UNIT NOT READY, FORMAT IN PROGRESS"},
      {0x04, 0x07, "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS"},
      {0x04, 0x08, "LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS"},
      {0x0C, 0x00, "WRITE ERROR"},
      {0x0C, 0x09, "WRITE ERROR - LOSS OF STREAMING"},
      {0x11, 0x00, "UNRECOVERED READ ERROR"},
      {0x11, 0x06, "CIRC UNRECOVERED ERROR"},
      {0x15, 0x00, "RANDOM POSITIONING ERROR"},
      {0x1A, 0x00, "PARAMETER LIST LENGTH ERROR"},
      {0x20, 0x00, "INVALID COMMAND OPERATION CODE"},
      {0x21, 0x00, "LOGICAL BLOCK ADDRESS OUT OF RANGE"},
      {0x21, 0x02, "INVALID ADDRESS FOR WRITE"},
      {0x24, 0x00, "INVALID FIELD IN CDB"},
      {0x26, 0x00, "INVALID FIELD IN PARAMETER LIST"},
      {0x27, 0x00, "WRITE PROTECTED"},
      {0x28, 0x00, "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED"},
      {0x29, 0x00, "POWER ON, RESET, OR BUS DEVICE RESET OCCURRED"},
      {0x2C, 0x00, "COMMAND SEQUENCE ERROR"},
      {0x30, 0x00, "INCOMPATIBLE MEDIUM INSTALLED"},
      {0x30, 0x05, "CANNOT WRITE MEDIUM - INCOMPATIBLE FORMAT"},
      {0x3A, 0x00, "MEDIUM NOT PRESENT"},
      {0x3A, 0x01, "MEDIUM NOT PRESENT - TRAY CLOSED"},
      {0x3A, 0x02, "MEDIUM NOT PRESENT - TRAY OPEN"},
      {0x44, 0x00, "INTERNAL TARGET FAILURE"},
      {0x5D, 0xFF, "FAILURE PREDICTION THRESHOLD EXCEEDED (FALSE)"},
      {0x64, 0x00, "ILLEGAL MODE FOR THIS TRACK"},
      {0x72, 0x03, "SESSION FIXATION ERROR - INCOMPLETE TRACK IN SESSION"},
      {0x73, 0x03, "POWER CALIBRATION AREA ERROR"},
  };
  for (const TPair& pair : pairs) {
    EXPECT_EQ(SenseText(pair.Asc, pair.Ascq), pair.Text) << std::hex << int(pair.Asc) << "/" << int(pair.Ascq);
  }
}

TEST(SenseTexts, PairsWithoutText) {
  EXPECT_EQ(SenseText(0x52, 0x00), "");
  EXPECT_EQ(SenseText(0x24, 0x02), "");
  EXPECT_EQ(SenseText(0x3A, 0x05), "");
  EXPECT_EQ(SenseText(0x5D, 0xFE), "");
  EXPECT_EQ(SenseText(0xFF, 0xFF), "");
  EXPECT_EQ(SenseText(0x00, 0xFF), "");
}

}  // namespace
}  // namespace fornax
