#include <gtest/gtest.h>

#include <vector>

#include "engine/disc/verify_report.h"

namespace fornax {
namespace {

using TRanges = std::vector<TSectorRange>;

TRanges Added(TRanges ranges, TSectorRange range) {
  AddSectorRange(ranges, range);
  return ranges;
}

TEST(SectorRanges, JoinWhatTouchesOrOverlapsAndKeepTheRestApartInOrder) {
  const TRanges two{{10, 5}, {30, 5}};  // 10-14, 30-34
  EXPECT_EQ(Added(two, {0, 2}), (TRanges{{0, 2}, {10, 5}, {30, 5}}));
  EXPECT_EQ(Added(two, {20, 1}), (TRanges{{10, 5}, {20, 1}, {30, 5}}));
  EXPECT_EQ(Added(two, {15, 1}), (TRanges{{10, 6}, {30, 5}})) << "right after the first";
  EXPECT_EQ(Added(two, {9, 1}), (TRanges{{9, 6}, {30, 5}})) << "right before the first";
  EXPECT_EQ(Added(two, {12, 10}), (TRanges{{10, 12}, {30, 5}})) << "overlapping the first";
  EXPECT_EQ(Added(two, {11, 2}), two) << "inside the first";
  EXPECT_EQ(Added(two, {15, 15}), (TRanges{{10, 25}})) << "bridging both";
  EXPECT_EQ(Added(two, {0, 100}), (TRanges{{0, 100}})) << "swallowing both";
  EXPECT_EQ(Added(two, {40, 0}), two) << "an empty range";
  EXPECT_EQ(Added({}, {0xFFFFFFF0u, 16}), (TRanges{{0xFFFFFFF0u, 16}})) << "at the end of the address space";
}

TEST(SectorRanges, TextNamesSingleSectorsAndSpans) {
  EXPECT_EQ(SectorRangesText({}), "");
  EXPECT_EQ(SectorRangesText({{17, 1}}), "sector 17");
  EXPECT_EQ(SectorRangesText({{17, 4}}), "sectors 17-20");
  EXPECT_EQ(SectorRangesText({{17, 4}, {40, 1}}), "sectors 17-20, 40");
  EXPECT_EQ(SectorRangesList({{17, 4}, {40, 1}}), "17-20, 40");
}

TEST(VerifyTexts, EveryProblemNamesItsFileAndWhatIsKnown) {
  EXPECT_EQ(ProblemText({"/a/b.txt", TVerifyProblem::Differs, {{310, 1}}, ""}),
            "differs from what was written: /a/b.txt (sector 310)");
  EXPECT_EQ(ProblemText({"/a/b.txt", TVerifyProblem::Differs, {}, "12 bytes on the disc"}),
            "differs from what was written: /a/b.txt: 12 bytes on the disc");
  EXPECT_EQ(ProblemText({"/c", TVerifyProblem::Unreadable, {{5, 2}}, "UNRECOVERED READ ERROR"}),
            "cannot be read from the disc: /c (sectors 5-6): UNRECOVERED READ ERROR");
  EXPECT_EQ(ProblemText({"/d", TVerifyProblem::ChangedDuringBurn, {}, ""}),
            "changed during the burn: /d (the disc holds the bytes that were sent, not the file as it is now)");
  EXPECT_EQ(ProblemText({"/e", TVerifyProblem::MissingOnDisc, {}, ""}), "not on the disc: /e");
  EXPECT_EQ(ProblemText({"/f", TVerifyProblem::NotAmongSources, {}, ""}), "on the disc but not among the sources: /f");
}

TEST(VerifyTexts, TheSummaryCountsEachKindAndGathersTheFailingSectors) {
  TVerifyReport report;
  report.Ran = true;
  report.FilesChecked = 5;
  report.FilesMatching = 2;
  report.BytesChecked = 3400000;
  report.Add({"/z", TVerifyProblem::Unreadable, {{100, 2}}, ""});
  report.Add({"/b", TVerifyProblem::Differs, {{101, 3}}, ""});
  report.Add({"/a", TVerifyProblem::Differs, {{7, 1}}, ""});
  report.Add({"/n", TVerifyProblem::MissingOnDisc, {}, ""});
  report.Finish();
  EXPECT_FALSE(report.Passed());
  EXPECT_EQ(report.Problems.front().Path, "/a") << "sorted by path";
  EXPECT_EQ(report.FailedSectors, (TRanges{{7, 1}, {100, 4}}));
  EXPECT_EQ(VerifySummary(report),
            "Verified 5 files (3.4 MB): 2 match; 2 differ, 1 cannot be read, 1 is not on the disc; "
            "failing sectors 7, 100-103.");

  TVerifyReport sound;
  sound.Ran = true;
  sound.FilesChecked = sound.FilesMatching = 1;
  sound.Finish();
  EXPECT_TRUE(sound.Passed());
  EXPECT_EQ(VerifySummary(sound), "Verified 1 file (0.0 MB): all match the disc.");

  TVerifyReport unread;
  unread.Error = "session 3 holds no file system that can be read";
  EXPECT_FALSE(unread.Passed()) << "a verify that could not read proves nothing";
  EXPECT_EQ(VerifySummary(unread), "Verify could not read the session: session 3 holds no file system that can be read");
}

TEST(VerifyTexts, AnImageSummaryNamesTheSectorsThatFailed) {
  TVerifyReport report;
  report.Ran = true;
  EXPECT_EQ(ImageVerifySummary(report, 701), "Verified 701 sectors against the image: all match.");
  report.Add({"x.iso", TVerifyProblem::Differs, {{100, 3}}, ""});
  report.Finish();
  EXPECT_EQ(ImageVerifySummary(report, 701),
            "Verified 701 sectors against the image: sectors 100-102 differ or cannot be read.");
}

}  // namespace
}  // namespace fornax
