#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>

#include "engine/drive/command_names.h"

namespace fornax {
namespace {

std::string HexDigits(int opcode) {
  char text[3];
  std::snprintf(text, sizeof(text), "%02X", opcode);
  return text;
}

TEST(CommandNames, NamedCommands) {
  struct TName {
    uint8_t Opcode;
    const char* Name;
  };
  // The trace shows these exactly, padding included.
  const TName names[] = {
      {0x00, "TEST UNIT READY       "}, {0x01, "REWIND UNIT           "}, {0x03, "REQUEST SENSE         "},
      {0x04, "FORMAT UNIT           "}, {0x12, "INQUIRY               "}, {0x1B, "START STOP UNIT       "},
      {0x1E, "PREVENT/ALLOW REMOVAL "}, {0x23, "READ FORMAT CAPACITIES"}, {0x25, "READ CAPACITY         "},
      {0x28, "READ (10)             "}, {0x2A, "WRITE (10)            "}, {0x2B, "SEEK (10)             "},
      {0x2E, "WRITE AND VERIFY (10) "}, {0x2F, "VERIFY (10)           "}, {0x35, "SYNCHRONIZE CACHE     "},
      {0x42, "READ SUB-CHANNEL      "}, {0x43, "READ TOC/PMA/ATIP     "}, {0x45, "PLAY AUDIO (10)       "},
      {0x46, "GET CONFIGURATION     "}, {0x47, "PLAY AUDIO MSF        "}, {0x4A, "GET EVENT/STATUS NOTIF"},
      {0x4B, "PAUSE/RESUME          "}, {0x4E, "STOP PLAY/SCAN        "}, {0x51, "READ DISC INFORMATION "},
      {0x52, "READ TRACK INFORMATION"}, {0x53, "RESERVE TRACK         "}, {0x54, "SEND OPC INFORMATION  "},
      {0x55, "MODE SELECT (10)      "}, {0x58, "REPAIR TRACK          "}, {0x5A, "MODE SENSE (10)       "},
      {0x5B, "CLOSE TRACK/SESSION   "}, {0x5C, "READ BUFFER CAPACITY  "}, {0x5D, "SEND CUE SHEET        "},
      {0xA1, "BLANK                 "}, {0xA2, "SEND EVENT            "}, {0xA3, "SEND KEY              "},
      {0xA4, "REPORT KEY            "}, {0xA5, "PLAY AUDIO (12)       "}, {0xA6, "LOAD/UNLOAD CD/DVD    "},
      {0xA7, "SET READ AHEAD        "}, {0xA8, "READ (12)             "}, {0xAA, "WRITE (12)            "},
      {0xAC, "GET PERFORMANCE       "}, {0xAD, "READ DVD STRUCTURE    "}, {0xB6, "SET STREAMING         "},
      {0xB9, "READ CD MSF           "}, {0xBA, "SCAN                  "}, {0xBB, "SET CD SPEED          "},
      {0xBD, "MECHANISM STATUS      "}, {0xBE, "READ CD               "}, {0xBF, "SEND DVD STRUCTURE    "},
  };
  ASSERT_EQ(std::size(names), 51u);
  for (const TName& entry : names) {
    const std::string name = CommandName(entry.Opcode);
    EXPECT_EQ(name.size(), 22u) << HexDigits(entry.Opcode);
    EXPECT_EQ(name, entry.Name) << HexDigits(entry.Opcode);
  }
}

TEST(CommandNames, OtherOpcodesShowTheirHexDigits) {
  EXPECT_EQ(CommandName(0x88), "88");
  EXPECT_EQ(CommandName(0x02), "02") << "leading zero kept";
  EXPECT_EQ(CommandName(0x0A), "0A") << "upper-case digits";
  EXPECT_EQ(CommandName(0x5E), "5E");
  EXPECT_EQ(CommandName(0xAF), "AF");
  EXPECT_EQ(CommandName(0xC0), "C0");
  EXPECT_EQ(CommandName(0xFE), "FE");
  EXPECT_EQ(CommandName(0xFF), "FF");
}

TEST(CommandNames, FiftyOneNamesAndHexForTheRest) {
  int named = 0;
  for (int opcode = 0; opcode < 256; ++opcode) {
    const std::string name = CommandName(static_cast<uint8_t>(opcode));
    if (name == HexDigits(opcode)) continue;
    ++named;
    EXPECT_EQ(name.size(), kCommandNameWidth) << HexDigits(opcode);
    EXPECT_NE(name.front(), ' ') << HexDigits(opcode);
  }
  EXPECT_EQ(named, 51);
}

}  // namespace
}  // namespace fornax
