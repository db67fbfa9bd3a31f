#include "ui/message_box.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kelvrin::ui {
namespace {

std::vector<std::string> captionsOf(const MessageBoxSpec& spec) {
  std::vector<std::string> captions;
  for (const BoxButton& b : spec.buttons)
    captions.push_back(b.caption);
  return captions;
}

std::vector<int> resultsOf(const MessageBoxSpec& spec) {
  std::vector<int> results;
  for (const BoxButton& b : spec.buttons)
    results.push_back(b.result);
  return results;
}

struct FlagCase {
  const char* label;
  unsigned flags;
  BoxIcon icon;
  std::vector<std::string> captions;
  std::vector<int> results;
  std::size_t defaultButton;
  bool foreground;
};

class StandardBoxFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(StandardBoxFlags, DecodeIntoIconButtonsFocusAndForeground) {
  const FlagCase& c = GetParam();
  const auto spec = standardBoxSpec("text", "Kelvrin", false, c.flags);
  ASSERT_TRUE(spec.has_value());
  EXPECT_EQ(spec->icon, c.icon);
  EXPECT_EQ(captionsOf(*spec), c.captions);
  EXPECT_EQ(resultsOf(*spec), c.results);
  EXPECT_EQ(spec->defaultButton, c.defaultButton);
  EXPECT_EQ(spec->foreground, c.foreground);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, StandardBoxFlags,
    ::testing::Values(
        FlagCase{"QuestionYesNo36", 36, BoxIcon::Question, {"&Yes", "&No"}, {6, 7}, 0, false},
        FlagCase{"InformationOkCancel65",
                 65,
                 BoxIcon::Information,
                 {"&OK", "&Cancel"},
                 {1, 2},
                 0,
                 false},
        FlagCase{"FocusOnNo", 0x100 + 4, BoxIcon::None, {"&Yes", "&No"}, {6, 7}, 1, false},
        FlagCase{"PlainOk", 0, BoxIcon::None, {"&OK"}, {1}, 0, false},
        FlagCase{"StopAbortRetryIgnore",
                 16 + 2,
                 BoxIcon::Stop,
                 {"&Abort", "&Retry", "Ignore"},
                 {3, 4, 5},
                 0,
                 false},
        FlagCase{"ExclamationYesNoCancelThirdFocused",
                 0x200 + 48 + 3,
                 BoxIcon::Exclamation,
                 {"&Yes", "&No", "&Cancel"},
                 {6, 7, 2},
                 2,
                 false},
        FlagCase{"ForegroundRetryCancel",
                 0x10000 + 5,
                 BoxIcon::None,
                 {"&Retry", "&Cancel"},
                 {4, 2},
                 0,
                 true},
        // Focus moves by Tab presses, which wrap past the last button.
        FlagCase{"FourthOfTwoWrapsToSecond",
                 0x300 + 4,
                 BoxIcon::None,
                 {"&Yes", "&No"},
                 {6, 7},
                 1,
                 false},
        FlagCase{
            "ThirdOfTwoWrapsToFirst", 0x200 + 4, BoxIcon::None, {"&Yes", "&No"}, {6, 7}, 0, false},
        FlagCase{"EverythingAtOnce",
                 0x10000 + 0x100 + 64 + 1,
                 BoxIcon::Information,
                 {"&OK", "&Cancel"},
                 {1, 2},
                 1,
                 true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(StandardBoxFlags, AButtonValueOutsideZeroToFiveShowsNothing) {
  for (unsigned flags : {6u, 15u, 64u + 7u, 0x300u + 14u, 0x10000u + 0x300u + 64u + 15u}) {
    EXPECT_FALSE(standardBoxSpec("text", "", false, flags).has_value()) << flags;
  }
}

TEST(StandardBoxFlags, IconValuesAreTakenOffLargestFirst) {
  // 96 = 64 + 32: the information icon is taken, leaving 32, which is no
  // button set.
  EXPECT_FALSE(decodeFlags(96).valid);
  EXPECT_EQ(decodeFlags(96).icon, BoxIcon::Information);
  EXPECT_EQ(decodeFlags(96).buttonSet, 32u);
}

TEST(StandardBeep, FollowsTheIconAndSilence) {
  EXPECT_EQ(standardBoxSpec("t", "", false, 36)->sound.kind, BeepKind::Question);
  EXPECT_EQ(standardBoxSpec("t", "", false, 4)->sound.kind, BeepKind::Default);
  EXPECT_EQ(standardBoxSpec("t", "", true, 36)->sound.kind, BeepKind::None);
}

struct SplitCase {
  const char* list;
  std::vector<std::string> items;
};

class SplitBarList : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitBarList, DropsALeadingBarAndAddsAMissingTrailingOne) {
  EXPECT_EQ(splitBarList(GetParam().list), GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(Lists, SplitBarList,
                         ::testing::Values(SplitCase{"", {}}, SplitCase{"|", {}},
                                           SplitCase{"&OK", {"&OK"}},
                                           SplitCase{"|&OK|&Spam", {"&OK", "&Spam"}},
                                           SplitCase{"&OK|&Spam|", {"&OK", "&Spam"}},
                                           SplitCase{"&OK|&Spam|&Reply|Reply&Quote",
                                                     {"&OK", "&Spam", "&Reply", "Reply&Quote"}},
                                           SplitCase{"a||b", {"a", "", "b"}},
                                           SplitCase{"||", {""}}));

struct EscapeCase {
  const char* label;
  unsigned flags;
  std::optional<int> pressed;  // the result Esc gives, none: Esc does nothing
};

class EscapeButton : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeButton, PressesCancelElseNoElseALoneOk) {
  const EscapeCase& c = GetParam();
  const auto spec = standardBoxSpec("text", "Kelvrin", false, c.flags);
  ASSERT_TRUE(spec.has_value());
  std::optional<int> pressed;
  if (spec->escapeButton) pressed = spec->buttons.at(*spec->escapeButton).result;
  EXPECT_EQ(pressed, c.pressed);
}

INSTANTIATE_TEST_SUITE_P(Flags, EscapeButton,
                         ::testing::Values(EscapeCase{"Ok", 0, kIdOk},
                                           EscapeCase{"OkCancel", 1, kIdCancel},
                                           EscapeCase{"AbortRetryIgnore", 2, std::nullopt},
                                           EscapeCase{"YesNoCancel", 3, kIdCancel},
                                           EscapeCase{"YesNoWithFocusOnNo", 0x100 + 4, kIdNo},
                                           EscapeCase{"RetryCancel", 5 + 48, kIdCancel}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(CustomBox, EscPressesNoneOfTheCallersButtons) {
  ButtonBoxArgs args;
  args.buttons = "&OK|&Spam|&Reply|Reply&Quote";
  const auto spec = customBoxSpec(args);
  ASSERT_TRUE(spec.has_value());
  EXPECT_FALSE(spec->escapeButton.has_value());
}

TEST(CustomBox, AListStartingWithABarGivesTwoButtonsElevenAndTwelve) {
  ButtonBoxArgs args;
  args.text = "Choose";
  args.buttons = "|&Keep|&Drop";
  const auto spec = customBoxSpec(args);
  ASSERT_TRUE(spec.has_value());
  EXPECT_EQ(captionsOf(*spec), (std::vector<std::string>{"&Keep", "&Drop"}));
  EXPECT_EQ(resultsOf(*spec), (std::vector<int>{11, 12}));
}

TEST(CustomBox, AnEmptyListShowsNothing) {
  ButtonBoxArgs args;
  args.buttons = "";
  EXPECT_FALSE(customBoxSpec(args).has_value());
}

TEST(CustomBox, TakesDefaultButtonGlyphsAndSoundFromTheCaller) {
  ButtonBoxArgs args;
  args.buttons = "&OK|&Spam|&Reply";
  args.defaultButton = 2;
  args.glyphs = {"ok.png"};
  args.sound = "MB_ICONQUESTION";
  args.bringToFront = true;
  const auto spec = customBoxSpec(args);
  EXPECT_EQ(spec->defaultButton, 1u);
  EXPECT_EQ(spec->buttons[0].glyph, "ok.png");
  EXPECT_EQ(spec->buttons[1].glyph, "");
  EXPECT_EQ(spec->sound.kind, BeepKind::Question);
  EXPECT_TRUE(spec->foreground);

  args.defaultButton = 9;
  EXPECT_EQ(customBoxSpec(args)->defaultButton, 0u);
}

struct RowCase {
  std::size_t buttons;
  std::vector<std::size_t> rows;
};

class ButtonRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(ButtonRows, RowsOfThreeTwoForTwoOrFourFourAboveNine) {
  EXPECT_EQ(buttonRows(GetParam().buttons), GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(Layout, ButtonRows,
                         ::testing::Values(RowCase{0, {}}, RowCase{1, {1}}, RowCase{2, {2}},
                                           RowCase{3, {3}}, RowCase{4, {2, 2}}, RowCase{5, {3, 2}},
                                           RowCase{7, {3, 3, 1}}, RowCase{9, {3, 3, 3}},
                                           RowCase{10, {4, 4, 2}}, RowCase{13, {4, 4, 4, 1}}));

struct SoundCase {
  const char* name;
  BeepKind kind;
  bool isFile;
};

class DecodeBoxSound : public ::testing::TestWithParam<SoundCase> {};

TEST_P(DecodeBoxSound, NamesABeepKindOrASoundToPlay) {
  const BoxSound sound = decodeBoxSound(GetParam().name);
  EXPECT_EQ(sound.kind, GetParam().kind);
  EXPECT_EQ(sound.isFile, GetParam().isFile);
  if (sound.kind == BeepKind::PlayName) {
    EXPECT_EQ(sound.name, GetParam().name);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, DecodeBoxSound,
    ::testing::Values(SoundCase{"", BeepKind::None, false},
                      SoundCase{"MB_ICONINFORMATION", BeepKind::Information, false},
                      SoundCase{"mb_iconexclamation", BeepKind::Exclamation, false},
                      SoundCase{"Mb_IconQuestion", BeepKind::Question, false},
                      SoundCase{"MB_ICONERROR", BeepKind::Stop, false},
                      SoundCase{"beep", BeepKind::Default, false},
                      SoundCase{"0", BeepKind::Default, false},
                      SoundCase{"65535", BeepKind::Speaker, false},
                      SoundCase{"YOUHAVEMAIL", BeepKind::PlayName, false},
                      SoundCase{"/usr/share/sounds/ding.wav", BeepKind::PlayName, true},
                      SoundCase{"C:\\sounds\\ding.wav", BeepKind::PlayName, true}));

TEST(ResolveCaption, CallersCaptionElseTheActiveWindowsElseNone) {
  EXPECT_EQ(resolveCaption("Kelvrin", std::string("Other")), "Kelvrin");
  EXPECT_EQ(resolveCaption("", std::string("Kelvrinate V3400")), "Kelvrinate V3400");
  EXPECT_EQ(resolveCaption("", std::nullopt), "");
}

TEST(EffectivePosition, DesktopCentreWhenNoProgramWindowIsActive) {
  EXPECT_EQ(effectivePosition(BoxPosition::OwnerFormCenter, true), BoxPosition::OwnerFormCenter);
  EXPECT_EQ(effectivePosition(BoxPosition::OwnerFormCenter, false), BoxPosition::DesktopCenter);
}

TEST(InputDialogSpec, SplitsPromptsAndDefaultsAndReadsCheckBoxStates) {
  InputDialogArgs args;
  args.prompts = "Name|Address";
  args.defaults = "Sam|sam@kelvrin.example";
  args.checkBoxes = "\x01Remember|Urgent";
  const InputDialogSpec spec = inputDialogSpec(args);
  EXPECT_EQ(spec.fields,
            (std::vector<InputField>{{"Name", "Sam"}, {"Address", "sam@kelvrin.example"}}));
  EXPECT_EQ(spec.checkBoxes, (std::vector<InputCheckBox>{{"Remember", true}, {"Urgent", false}}));
}

TEST(InputDialogSpec, ASingleDefaultFillsTheOnlyFieldEvenWithABar) {
  InputDialogArgs args;
  args.prompts = "Flash Message type here (up to 160 characters)";
  args.defaults = "a|b";
  const InputDialogSpec spec = inputDialogSpec(args);
  ASSERT_EQ(spec.fields.size(), 1u);
  EXPECT_EQ(spec.fields[0].value, "a|b");
}

TEST(InputDialogSpec, DefaultsWithoutABarFillOnlyTheFirstOfSeveralFields) {
  InputDialogArgs args;
  args.prompts = "One|Two";
  args.defaults = "x";
  EXPECT_EQ(inputDialogSpec(args).fields, (std::vector<InputField>{{"One", "x"}, {"Two", ""}}));
}

struct EncodeCase {
  const char* label;
  std::vector<std::string> fields;
  std::vector<bool> checks;
  std::string encoded;
};

class InputValue : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(InputValue, FieldsJoinedByLfThenCrAndOneDigitPerCheckBox) {
  const EncodeCase& c = GetParam();
  EXPECT_EQ(encodeInputValue(c.fields, c.checks), c.encoded);
  const InputAnswer back = decodeInputValue(c.encoded);
  EXPECT_EQ(back.fields, c.fields);
  EXPECT_EQ(back.checks, c.checks);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, InputValue,
    ::testing::Values(EncodeCase{"OneField", {"hello"}, {}, "hello"},
                      EncodeCase{"EmptyField", {""}, {}, ""},
                      EncodeCase{"TwoFields", {"a", "b"}, {}, "a\nb"},
                      EncodeCase{"FieldsAndChecks", {"a", ""}, {true, false, true}, "a\n\r101"},
                      EncodeCase{"EmptyFieldWithCheck", {""}, {false}, "\r0"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(InputValue, CancelAndFailureAreOneCharacterAndDifferFromEmptyInput) {
  EXPECT_EQ(kInputCancelled.size(), 1u);
  EXPECT_EQ(kInputCancelled[0], '\0');
  EXPECT_EQ(kInputFailed.size(), 1u);
  EXPECT_EQ(kInputFailed[0], '\x01');
  EXPECT_NE(kInputCancelled, encodeInputValue({""}, {}));
}

}  // namespace
}  // namespace kelvrin::ui
