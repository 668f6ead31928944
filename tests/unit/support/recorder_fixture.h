#pragma once
// An engine with its log captured, and synthetic listings for adding entries
// without files.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/recorder.h"

namespace fornax::test {

struct TLogLine {
  std::string Text;
  uint8_t Type;
};

class RecorderTest : public ::testing::Test {
 protected:
  RecorderTest() {
    Rec.OnDebugMessage = [this](TObject*, const std::string& text, uint8_t type) {
      Lines.push_back({text, type});
    };
  }

  static TSearchRec FileListing(const std::string& name, int64_t size,
                                const std::string& shortName = "") {
    TSearchRec item;
    item.Name = item.LongName = name;
    item.ShortName = shortName;
    item.Size = size;
    item.Attr = 0x20;
    item.WriteTime = 1700000000;
    return item;
  }
  static TSearchRec FolderListing(const std::string& name, const std::string& shortName = "") {
    TSearchRec item = FileListing(name, 0, shortName);
    item.Attr = 0x10;
    return item;
  }
  bool AddFile(TDEntry* dir, const std::string& name, int64_t size, const std::string& shortName = "") {
    return Rec.AddEntry(dir, FileListing(name, size, shortName), "/nowhere/" + name, 0, false);
  }
  bool Logged(const std::string& text, int type = -1) const {
    for (const TLogLine& line : Lines)
      if (line.Text == text && (type < 0 || line.Type == type)) return true;
    return false;
  }
  bool LoggedContaining(const std::string& part, int type) const {
    for (const TLogLine& line : Lines)
      if (line.Text.find(part) != std::string::npos && line.Type == type) return true;
    return false;
  }

  TQzRecorder Rec;
  std::vector<TLogLine> Lines;
};

}  // namespace fornax::test
