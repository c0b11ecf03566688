// The common configuration dialog: the saved value and the Save button, refused values,
// the number written back in decimal, an absent key appended, an unreadable file, a
// failed rewrite, and the keys (mnemonics, Enter, Esc).
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "console/kova_common_config.h"
#include "console/shim/kova_screenshot.h"
#include "support/kova_dialog_fixture.h"

namespace
{
struct common_fixture : kova_test::dialog_fixture
{
    std::unique_ptr<CCommonConfig> dialog;

    void TearDown() override
    {
        dialog.reset();
        dialog_fixture::TearDown();
    }

    void open(const std::string &content)
    {
        dir.write("common.cfg", content);
        open_path(dir.file("common.cfg"));
    }
    void open_path(const std::string &path)
    {
        dialog.reset(new CCommonConfig(100, path, logger.get()));
        dialog->OnInitDialog();
        activate(dialog.get());
    }
    QLineEdit *field() { return dialog->Item<QLineEdit>(1029); }
    QPushButton *save() { return dialog->Item<QPushButton>(1020); }
    void type(const std::string &text)
    {
        field()->selectAll();
        QTest::keyClicks(field(), QString::fromStdString(text));
    }
};
} // namespace

TEST_F(common_fixture, SaveIsEnabledOnlyWhileTheNumberDiffersFromTheSavedOne)
{
    open("LOG_LEVEL=3\nREPOSITORY_HISTORY=30\n");
    EXPECT_EQ(field()->text().toStdString(), "30");
    EXPECT_FALSE(save()->isEnabled());
    EXPECT_EQ(field()->maxLength(), 4);
    type("45");
    EXPECT_TRUE(save()->isEnabled());
    type("30");
    EXPECT_FALSE(save()->isEnabled());
    type("030");
    EXPECT_FALSE(save()->isEnabled()) << "compared as numbers";
    type("3a0");
    EXPECT_EQ(field()->text().toStdString(), "30") << "digits only";
    EXPECT_TRUE(logged("Market type for dialog is 100 - COMMON"));
    EXPECT_TRUE(logged("Read repository history management in days = 30"));
    KovaSaveScreenshot(dialog.get(), "kova_common_configuration");
}

TEST_F(common_fixture, ZeroAndBlankAreRefusedAndTheSavedValueComesBack)
{
    open("REPOSITORY_HISTORY=30\n");
    type("0");
    ASSERT_TRUE(save()->isEnabled());
    save()->click();
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{
                                "Error: Value of Repository history should be greater than zero (0)"}));
    EXPECT_EQ(field()->text().toStdString(), "30");
    EXPECT_FALSE(save()->isEnabled());
    EXPECT_TRUE(logged("Repository history value [0] is less than or equal to zero"));
    EXPECT_TRUE(logged("Validation(s) failed."));

    field()->clear();
    ASSERT_TRUE(save()->isEnabled()) << "blank is 0";
    save()->click();
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: Repository history value can't be blank"}));
    EXPECT_EQ(field()->text().toStdString(), "30");
    EXPECT_TRUE(logged("Repository history value is blank."));
    EXPECT_EQ(dir.read("common.cfg"), "REPOSITORY_HISTORY=30\n");
}

TEST_F(common_fixture, TheNumberIsWrittenInDecimalInItsLineAndTheFileReadAgain)
{
    open("A=1\nREPOSITORY_HISTORY=30\nB=2");
    type("0045");
    save()->click();
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{
                                "Success: Parameter(s) updated successfully in configuration file."}));
    EXPECT_EQ(dir.read("common.cfg"), "A=1\nREPOSITORY_HISTORY=45\nB=2\n");
    EXPECT_EQ(field()->text().toStdString(), "45");
    EXPECT_FALSE(save()->isEnabled());
    EXPECT_EQ(dialog->SavedDays(), 45);
    EXPECT_EQ(dir.list(""), (std::vector<std::string>{"common.cfg", "logs", "registry", "service", "tmp"}))
        << "no temporary file left";
}

TEST_F(common_fixture, AnAbsentKeyShowsZeroAndIsAppended)
{
    open("A=1\n");
    EXPECT_EQ(field()->text().toStdString(), "0");
    EXPECT_TRUE(logged("Cannot read REPOSITORY_HISTORY from config file."));
    type("7");
    save()->click();
    EXPECT_EQ(dir.read("common.cfg"), "A=1\nREPOSITORY_HISTORY=7\n");
}

TEST_F(common_fixture, AnUnreadableFileEndsTheDialogAtOnce)
{
    CCommonConfig absent(100, dir.file("none.cfg"), logger.get());
    EXPECT_EQ(absent.DoModal(), -1);
    EXPECT_FALSE(absent.isVisible());
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: QEL Setup Error."}));
    EXPECT_TRUE(logged("KOVA could not open QEL config file."));
}

TEST_F(common_fixture, AFailedRewriteIsShownAndKeepsTheEnteredValue)
{
    // A folder opens for reading but cannot be read: the rewrite fails.
    ASSERT_EQ(system(("mkdir '" + dir.file("folder.cfg") + "'").c_str()), 0);
    open_path(dir.file("folder.cfg"));
    type("9");
    save()->click();
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: QEL Setup Error."}));
    EXPECT_TRUE(logged("Parameter(s) updation failed in configuration file."));
    EXPECT_EQ(field()->text().toStdString(), "9");
    EXPECT_TRUE(save()->isEnabled());
}

TEST_F(common_fixture, KeysSaveWithTheMnemonicAndCloseWithEnterEscAndExit)
{
    open("REPOSITORY_HISTORY=30\n");
    type("12");
    QTest::keyClick(dialog.get(), Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(
        kova_test::pump_until([&] { return dir.read("common.cfg") == "REPOSITORY_HISTORY=12\n"; }, 2000));
    take_boxes();

    type("13");
    QTest::keyClick(field(), Qt::Key_Return);
    EXPECT_TRUE(dialog->IsEnded());
    EXPECT_EQ(dir.read("common.cfg"), "REPOSITORY_HISTORY=12\n") << "Enter closes without saving";

    open("REPOSITORY_HISTORY=30\n");
    type("14");
    QTest::keyClick(field(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->IsEnded());
    open("REPOSITORY_HISTORY=30\n");
    QTest::keyClick(dialog.get(), Qt::Key_X, Qt::AltModifier);
    EXPECT_TRUE(kova_test::pump_until([&] { return dialog->IsEnded(); }, 2000));
    EXPECT_EQ(dir.read("common.cfg"), "REPOSITORY_HISTORY=30\n");
    EXPECT_TRUE(take_boxes().empty());
}
