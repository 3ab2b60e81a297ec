// The "Color" dialog: which slot a chosen colour goes to, the preview, and Cancel.
#include "ui/color_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <optional>
#include <vector>

#include "ui/colour_ref.h"

namespace norvane {
namespace {

constexpr uint32_t kRed = 0x000000FF;      // the stored date colour by default
constexpr uint32_t kMagenta = 0x00FF00FF;  // the stored reading colour by default

TEST(ColourRefTest, StoredColoursAreBlueGreenRedFromTheTop) {
  EXPECT_EQ(FromColourRef(kRed), QColor(255, 0, 0));
  EXPECT_EQ(FromColourRef(0x00563412), QColor(0x12, 0x34, 0x56));
  EXPECT_EQ(ToColourRef(QColor(0x12, 0x34, 0x56)), 0x00563412u);
  EXPECT_EQ(ToColourRef(QColor(0, 0, 255, 10)), 0x00FF0000u) << "alpha is not stored";
}

class ColorDialogTest : public testing::Test {
 protected:
  ColorDialogTest() : dialog_(kRed, kMagenta, false, texts_) {
    dialog_.set_colour_chooser([this](QColor initial) {
      offered_.push_back(initial);
      return answer_;
    });
  }

  QColor PreviewAt(double fraction) {
    ColourPreview* preview = dialog_.preview();
    preview->resize(100, 20);
    const QImage shot = preview->grab().toImage();
    return shot.pixelColor(static_cast<int>(fraction * shot.width()), shot.height() / 2);
  }

  LanguageDictionary texts_;
  ColorDialog dialog_;
  std::optional<QColor> answer_;
  std::vector<QColor> offered_;
};

TEST_F(ColorDialogTest, ShowsItsTexts) {
  EXPECT_EQ(dialog_.windowTitle(), "Color");
  EXPECT_EQ(dialog_.date_button()->text(), "Date");
  EXPECT_EQ(dialog_.reading_button()->text(), "CPM");
  EXPECT_EQ(dialog_.colour_button()->text(), "Color");
  EXPECT_EQ(dialog_.semicolon_box()->text(), "Save .CSV File Use Semicolon (;) as tabs.");
  EXPECT_TRUE(dialog_.date_button()->isChecked());
  EXPECT_FALSE(dialog_.semicolon_box()->isChecked());
  EXPECT_TRUE(ColorDialog(kRed, kMagenta, true, texts_).semicolon());
}

TEST_F(ColorDialogTest, TheRadioButtonChoosesTheSlot) {
  answer_ = QColor(0x12, 0x34, 0x56);
  dialog_.colour_button()->click();
  ASSERT_EQ(offered_.size(), 1u);
  EXPECT_EQ(offered_[0], FromColourRef(kRed)) << "the chooser starts from the colour it edits";
  EXPECT_EQ(dialog_.date_colour(), 0x00563412u);
  EXPECT_EQ(dialog_.reading_colour(), kMagenta);
  EXPECT_EQ(PreviewAt(0.25), QColor(0x12, 0x34, 0x56));
  EXPECT_EQ(PreviewAt(0.75), FromColourRef(kMagenta));

  dialog_.reading_button()->click();
  answer_ = QColor(0, 128, 0);
  dialog_.colour_button()->click();
  ASSERT_EQ(offered_.size(), 2u);
  EXPECT_EQ(offered_[1], FromColourRef(kMagenta));
  EXPECT_EQ(dialog_.reading_colour(), 0x00008000u);
  EXPECT_EQ(dialog_.date_colour(), 0x00563412u);
  EXPECT_EQ(PreviewAt(0.75), QColor(0, 128, 0));

  dialog_.semicolon_box()->click();
  dialog_.accept();
  EXPECT_EQ(dialog_.result(), QDialog::Accepted);
  EXPECT_EQ(dialog_.reading_colour(), 0x00008000u);
  EXPECT_TRUE(dialog_.semicolon());
}

TEST_F(ColorDialogTest, ACancelledChooserChangesNothing) {
  answer_ = std::nullopt;
  dialog_.colour_button()->click();
  EXPECT_EQ(offered_.size(), 1u);
  EXPECT_EQ(dialog_.date_colour(), kRed);
  EXPECT_EQ(dialog_.reading_colour(), kMagenta);
}

TEST_F(ColorDialogTest, CancelGivesBackWhatItWasGiven) {
  answer_ = QColor(1, 2, 3);
  dialog_.colour_button()->click();
  dialog_.reading_button()->click();
  dialog_.colour_button()->click();
  dialog_.semicolon_box()->click();
  ASSERT_NE(dialog_.date_colour(), kRed);

  dialog_.reject();
  EXPECT_EQ(dialog_.result(), QDialog::Rejected);
  EXPECT_EQ(dialog_.date_colour(), kRed);
  EXPECT_EQ(dialog_.reading_colour(), kMagenta);
  EXPECT_FALSE(dialog_.semicolon());
}

}  // namespace
}  // namespace norvane
