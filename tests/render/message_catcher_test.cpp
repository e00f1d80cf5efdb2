// What the renderer catches of the boxes and dialogs the adapter shows.
#include "tools/render/message_catcher.h"

#include "desktop_script.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace brvst::test {
namespace {

using ::testing::ElementsAre;

TEST(MessageCatcher, AnswersEachBoxWithItsDefaultButtonAndKeepsItInOneLineUntilTaken) {
  render::MessageCatcher catcher;
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "First line\nsecond  line", "Caption", MB_YESNO | MB_DEFBUTTON2),
            IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Done.", "Other", MB_OK), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "nothing goes to the default desktop";
  EXPECT_THAT(catcher.Take(), ElementsAre("Caption: First line second  line", "Other: Done."));
  EXPECT_TRUE(catcher.Take().empty());
}

TEST(MessageCatcher, OneAtATimeAndTheDesktopItReplacedComesBack) {
  if (RealWindows()) GTEST_SKIP() << "hooks on a thread all see every box: no desktop to replace";
  DesktopScript script;
  {
    render::MessageCatcher catcher;
    EXPECT_THROW(render::MessageCatcher second, std::logic_error);
    MessageBoxA(nullptr, "caught", "Box", MB_OK);
    EXPECT_THAT(catcher.Take(), ElementsAre("Box: caught"));
  }
  MessageBoxA(nullptr, "scripted", "Box", MB_OK);
  const auto shown = script.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "scripted");
}

TEST(MessageCatcherText, LineBreaksBecomeSpacesAndOuterBlanksGo) {
  EXPECT_EQ(render::OneLine("  a\r\nb\nc\rd  e \n"), "a b c d  e");
  EXPECT_EQ(render::OneLine("\r\n"), "");
}

}  // namespace
}  // namespace brvst::test
