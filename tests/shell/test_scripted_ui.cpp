#include "tests/common/scripted_ui.h"

#include <gtest/gtest.h>

using namespace talmo;

TEST(ScriptedUi, RecordsTextsInOrderAndKeepsEachFieldsLatest) {
    ScriptedUi ui;
    ui.setStatusText(0, "USB: Getting status");
    ui.setStatusText(1, "Lecture 0x0000");
    ui.setStatusText(0, "USB: TALMO connecté");
    EXPECT_EQ(ui.status(0), "USB: TALMO connecté");
    EXPECT_EQ(ui.status(1), "Lecture 0x0000");
    EXPECT_EQ(ui.statusTexts(0),
              (std::vector<std::string>{"USB: Getting status", "USB: TALMO connecté"}));
    ASSERT_EQ(ui.events().size(), 3u);
}

TEST(ScriptedUi, AnswersComeFromTheQueueThenDefaultToTheFirstButton) {
    ScriptedUi ui;
    ui.queueAnswer(Answer::No);
    EXPECT_EQ(ui.messageBox("Programmer cette version ?", "Programmation", Icon::Question,
                            Buttons::YesNo),
              Answer::No);
    EXPECT_EQ(ui.messageBox("x", "y", Icon::Question, Buttons::YesNo), Answer::Yes);
    EXPECT_EQ(ui.messageBox("x", "y", Icon::Error, Buttons::Ok), Answer::Ok);
    auto boxes = ui.boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].caption, "Programmation");
}

TEST(ScriptedUi, DialogsReturnPreparedPathsThenCancel) {
    ScriptedUi ui;
    ui.queueOpenPath(std::string("/tmp/a.hex"));
    FileDialogRequest r;
    r.defaultExtension = "hex";
    EXPECT_EQ(ui.openFileDialog(r), std::optional<std::string>("/tmp/a.hex"));
    EXPECT_EQ(ui.openFileDialog(r), std::nullopt);
    EXPECT_EQ(ui.saveFileDialog(r), std::nullopt);
    ASSERT_NE(ui.lastDialogRequest(), nullptr);
    EXPECT_EQ(ui.lastDialogRequest()->defaultExtension, "hex");
}

TEST(ScriptedUi, WaitsRunOnTheVirtualClock) {
    VirtualClock clock;
    ScriptedUi ui(&clock);
    for (int i = 0; i < 10000; ++i)
        ui.waitMs(8);
    EXPECT_EQ(clock.nowUs(), 80'000'000);
}
