// The resource script and the POSIX resource tables must describe the same dialogs and bitmaps.
// Only the Windows build has the compiled script to compare with, so this runs under Wine.
#include "desktop_script.h"
#include "platform/platform.h"
#include "resources/resource_ids.h"
#include "resources/resource_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using brvst::platform::BitmapTemplate;
using brvst::platform::DialogItemTemplate;
using brvst::platform::DialogTemplate;

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

// Reads a classic DIALOG template as windres writes it: little-endian words, UTF-16 strings,
// names that are either a string or 0xFFFF and an ordinal, items aligned to four bytes.
class TemplateReader {
 public:
  TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint16_t Word() {
    uint16_t value = 0;
    if (offset_ + 2 <= size_) std::memcpy(&value, data_ + offset_, 2);
    offset_ += 2;
    return value;
  }
  uint32_t Dword() {
    const uint32_t low = Word();
    return low | uint32_t{Word()} << 16;
  }
  int16_t Short() { return static_cast<int16_t>(Word()); }

  std::string String() {
    std::string text;
    for (uint16_t unit = Word(); unit != 0 && offset_ <= size_; unit = Word()) {
      const WCHAR wide[2] = {static_cast<WCHAR>(unit), 0};
      char narrow[4] = {};
      WideCharToMultiByte(1252, 0, wide, 1, narrow, sizeof narrow, nullptr, nullptr);
      text += narrow;
    }
    return text;
  }

  // A class name: predefined classes are stored as ordinals.
  std::string Name() {
    if (Peek() == 0xFFFF) {
      Word();
      switch (Word()) {
        case 0x80:
          return "Button";
        case 0x81:
          return "Edit";
        case 0x82:
          return "Static";
        default:
          return "?";
      }
    }
    return String();
  }

  void Align() { offset_ = (offset_ + 3) & ~size_t{3}; }
  bool Overrun() const { return offset_ > size_; }

 private:
  uint16_t Peek() const {
    uint16_t value = 0;
    if (offset_ + 2 <= size_) std::memcpy(&value, data_ + offset_, 2);
    return value;
  }
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

const DialogTemplate& TableDialog(int id) {
  for (const DialogTemplate* d = brvst::resources::kDialogTemplates; d->id != 0; ++d)
    if (d->id == id) return *d;
  ADD_FAILURE() << "dialog " << id << " is not in the tables";
  static const DialogTemplate none{};
  return none;
}

class ResourceScript : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (!brvst::test::RealWindows())
      GTEST_SKIP() << "only the Windows build has the compiled resource script";
  }
};

TEST_P(ResourceScript, DialogMatchesTheTableControlByControl) {
  const int id = GetParam();
  HRSRC resource = FindResourceA(Instance(), MAKEINTRESOURCEA(id), RT_DIALOG);
  ASSERT_NE(resource, nullptr);
  TemplateReader in(static_cast<const uint8_t*>(LockResource(LoadResource(Instance(), resource))),
                    SizeofResource(Instance(), resource));
  const DialogTemplate& table = TableDialog(id);

  EXPECT_EQ(in.Dword(), table.style);
  EXPECT_EQ(in.Dword(), table.exStyle);
  const uint16_t count = in.Word();
  EXPECT_EQ(in.Short(), table.x);
  EXPECT_EQ(in.Short(), table.y);
  EXPECT_EQ(in.Short(), table.cx);
  EXPECT_EQ(in.Short(), table.cy);
  EXPECT_EQ(in.Name(), "");  // no menu
  EXPECT_EQ(in.Name(), "");  // the standard dialog class
  EXPECT_EQ(in.String(), table.title);
  ASSERT_TRUE(table.style & DS_SETFONT);
  EXPECT_EQ(in.Word(), table.pointSize);
  EXPECT_EQ(in.String(), table.faceName);

  ASSERT_EQ(count, table.itemCount);
  for (size_t i = 0; i < count; ++i) {
    const DialogItemTemplate& item = table.items[i];
    SCOPED_TRACE("control " + std::to_string(i));
    in.Align();
    EXPECT_EQ(in.Dword(), item.style);
    EXPECT_EQ(in.Dword(), item.exStyle);
    EXPECT_EQ(in.Short(), item.x);
    EXPECT_EQ(in.Short(), item.y);
    EXPECT_EQ(in.Short(), item.cx);
    EXPECT_EQ(in.Short(), item.cy);
    EXPECT_EQ(in.Word(), item.id);
    EXPECT_EQ(lstrcmpiA(in.Name().c_str(), item.className), 0) << item.className;
    EXPECT_EQ(in.Name(), item.text);
    const uint16_t extra = in.Word();
    for (uint16_t b = 0; b < extra; b += 2) in.Word();
  }
  EXPECT_FALSE(in.Overrun());
}

INSTANTIATE_TEST_SUITE_P(Resources, ResourceScript,
                         ::testing::Values(IDD_EXCEPTION_REPORT, IDD_SERIOUS_ERROR));

TEST(ResourceTables, BitmapsAreTheScriptsBitmaps) {
  if (!brvst::test::RealWindows())
    GTEST_SKIP() << "only the Windows build has the compiled resource script";
  int count = 0;
  for (const BitmapTemplate* b = brvst::resources::kBitmapTemplates; b->id != 0; ++b, ++count) {
    HRSRC resource = FindResourceA(Instance(), MAKEINTRESOURCEA(b->id), RT_BITMAP);
    ASSERT_NE(resource, nullptr) << b->id;
    ASSERT_EQ(SizeofResource(Instance(), resource), b->size) << b->id;
    EXPECT_EQ(std::memcmp(LockResource(LoadResource(Instance(), resource)), b->dib, b->size), 0)
        << b->id;
  }
  EXPECT_EQ(count, 3);
}

}  // namespace
