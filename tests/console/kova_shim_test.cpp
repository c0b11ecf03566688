// The console's widget shim: a dialog's life (OnInitDialog before the first show, ending
// from there, Enter, Esc and the close box), mnemonics and tab order, the report list's
// notifications, the address and digit fields against typing and pasting, tabs, the
// message box and its hook, posting to the user-interface thread, and screenshots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "console/shim/kova_dialog.h"
#include "console/shim/kova_edit.h"
#include "console/shim/kova_ip_address.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_message_box.h"
#include "console/shim/kova_screenshot.h"
#include "console/shim/kova_tab.h"
#include "console/shim/kova_ui_thread.h"
#include "support/kova_test_app.h"

namespace
{
// A dialog laid out as the console's are: labelled fields, a list, two buttons.
class sample_dialog : public CDialog
{
  public:
    std::vector<std::string> handled;
    bool end_in_init = false;
    bool end_on_cancel = true;
    int shown = 0;
    int saves = 0;
    CIPAddressCtrl *ip;
    CDigitEdit *box_id;
    CListCtrl *list;
    QPushButton *save;
    QPushButton *exit;

    sample_dialog()
    {
        setWindowTitle("TX - Configuration");
        auto *layout = new QGridLayout(this);
        ip = new CIPAddressCtrl(this);
        SetControlId(ip, 1022);
        box_id = new CDigitEdit(5, this);
        SetControlId(box_id, 1026);
        list = new CListCtrl(this);
        SetControlId(list, 1018);
        save = new QPushButton("&Save", this);
        SetControlId(save, 1020);
        exit = new QPushButton("E&xit", this);
        SetControlId(exit, 1032);
        layout->addWidget(KovaLabel("&Local IP : ", ip, this), 0, 0);
        layout->addWidget(ip, 0, 1);
        layout->addWidget(KovaLabel("&Box ID : ", box_id, this), 1, 0);
        layout->addWidget(box_id, 1, 1);
        layout->addWidget(list, 2, 0, 1, 2);
        layout->addWidget(save, 3, 0);
        layout->addWidget(exit, 3, 1);
        connect(save, &QPushButton::clicked, this, [this] { ++saves; });
        connect(exit, &QPushButton::clicked, this, [this] { EndDialog(IDCANCEL); });
    }

    bool OnInitDialog() override
    {
        handled.push_back(shown == 0 ? "init before show" : "init after show");
        list->InsertColumn(0, "User List", 100);
        list->InsertColumn(1, "Login Status", 200);
        list->SetFullRowSelect(true);
        ip->SetAddressText("192.168.10.21");
        if (end_in_init)
            EndDialog(-1);
        return true;
    }
    void OnOK() override { handled.push_back("ok"); }
    void OnCancel() override
    {
        handled.push_back("cancel");
        if (end_on_cancel)
            EndDialog(IDCANCEL);
    }

  protected:
    void showEvent(QShowEvent *event) override
    {
        ++shown;
        CDialog::showEvent(event);
    }
};

void activate(QWidget *window)
{
    window->show();
    QApplication::setActiveWindow(window);
    kova_test::pump_until([window] { return QApplication::activeWindow() == window; }, 2000);
}
} // namespace

TEST(KovaDialog, InitRunsBeforeTheFirstShowAndEndingThereNeverShows)
{
    kova_test::application();
    sample_dialog ended;
    ended.end_in_init = true;
    EXPECT_EQ(ended.DoModal(), -1);
    EXPECT_EQ(ended.shown, 0);
    EXPECT_EQ(ended.handled, std::vector<std::string>{"init before show"});

    sample_dialog modal;
    QTimer::singleShot(0, &modal,
                       [&]
                       {
                           EXPECT_TRUE(modal.isVisible());
                           EXPECT_TRUE(KovaSaveScreenshot(&modal, "shim_sample_dialog"));
                           QTest::keyClick(&modal, Qt::Key_Escape);
                       });
    EXPECT_EQ(modal.DoModal(), IDCANCEL);
    EXPECT_EQ(modal.handled, (std::vector<std::string>{"init before show", "cancel"}));
    EXPECT_TRUE(QFile::exists(KovaScreenshotFolder() + "/shim_sample_dialog.png"));
}

TEST(KovaDialog, EnterEscAndTheCloseBoxGoToTheHandlers)
{
    kova_test::application();
    sample_dialog d;
    d.end_on_cancel = false;
    d.OnInitDialog();
    activate(&d);
    d.box_id->setFocus();
    QTest::keyClick(d.box_id, Qt::Key_Return);
    QTest::keyClick(d.box_id, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(d.box_id, Qt::Key_Escape);
    d.close();
    EXPECT_EQ(d.handled, (std::vector<std::string>{"init before show", "ok", "ok", "cancel", "cancel"}));
    EXPECT_TRUE(d.isVisible()) << "a handler that does not end the dialog keeps it open";

    // Enter on a focused button clicks that button instead.
    d.save->setFocus();
    QTest::keyClick(d.save, Qt::Key_Return);
    EXPECT_EQ(d.saves, 1);
    EXPECT_EQ(d.handled.size(), 5u);
    QTest::mouseClick(d.exit, Qt::LeftButton);
    EXPECT_TRUE(d.IsEnded());
    EXPECT_EQ(d.EndResult(), IDCANCEL);
    EXPECT_FALSE(d.isVisible());
}

TEST(KovaDialog, ControlsAreFoundByIdAndMnemonicsAndTabOrderWork)
{
    kova_test::application();
    sample_dialog d;
    d.OnInitDialog();
    EXPECT_EQ(d.GetDlgItem(1022), d.ip);
    EXPECT_EQ(d.Item<CDigitEdit>(1026), d.box_id);
    EXPECT_EQ(d.Item<QPushButton>(1020), d.save);
    EXPECT_EQ(d.GetDlgItem(9999), nullptr);
    activate(&d);
    QTest::keyClick(&d, Qt::Key_B, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), d.box_id) << "the label's mnemonic focuses its field";
    QTest::keyClick(&d, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(kova_test::pump_until([&] { return d.saves == 1; }, 2000)) << "Alt+S presses \"&Save\"";
    d.box_id->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), d.list) << "tab order follows creation";
}

TEST(KovaListCtrl, ColumnsRowsAndNotifications)
{
    kova_test::application();
    sample_dialog d;
    d.OnInitDialog();
    CListCtrl *list = d.list;
    EXPECT_EQ(list->columnWidth(0), 100);
    EXPECT_EQ(list->columnWidth(1), 200);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->InsertItem(0, "5"), 0);
    EXPECT_EQ(list->InsertItem(0, "3"), 0);
    EXPECT_EQ(list->InsertItem(99, "9"), 2) << "past the end appends";
    EXPECT_TRUE(list->SetItemText(2, 1, "Logged on."));
    EXPECT_FALSE(list->SetItemText(3, 1, "no such row"));
    EXPECT_EQ(list->GetItemText(0, 0), "3");
    EXPECT_EQ(list->GetItemText(2, 1), "Logged on.");
    EXPECT_EQ(list->GetItemText(7, 0), "");
    EXPECT_EQ(list->GetItemCount(), 3);
    EXPECT_EQ(list->GetSelectedRow(), -1);

    std::vector<std::string> notes;
    QObject::connect(list, &CListCtrl::columnClicked,
                     [&](int c) { notes.push_back("column " + std::to_string(c)); });
    QObject::connect(list, &CListCtrl::rowDoubleClicked,
                     [&](int r) { notes.push_back("double " + std::to_string(r)); });
    QObject::connect(list, &CListCtrl::deleteKeyPressed, [&] { notes.push_back("delete"); });
    activate(&d);
    QHeaderView *header = list->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionPosition(1) + 20, 5));
    QRect row = list->visualItemRect(list->topLevelItem(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
    list->SetSelectedRow(2);
    EXPECT_EQ(list->GetSelectedRow(), 2);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(notes, (std::vector<std::string>{"column 1", "double 1", "delete"}));
    EXPECT_EQ(list->GetItemText(0, 0), "3") << "the list never sorts itself";
    KovaSaveScreenshot(&d, "shim_report_list");
    EXPECT_TRUE(list->DeleteItem(0));
    EXPECT_FALSE(list->DeleteItem(5));
    list->DeleteAllItems();
    EXPECT_EQ(list->GetItemCount(), 0);
    EXPECT_EQ(list->GetColumnCount(), 2);
}

TEST(KovaIpAddress, FourFieldsOfZeroTo255BlankWhenEmpty)
{
    kova_test::application();
    CIPAddressCtrl ip;
    EXPECT_TRUE(ip.IsBlank());
    EXPECT_EQ(ip.GetAddressText(), "0.0.0.0");
    struct text_case
    {
        const char *text;
        bool accepted;
        const char *shown;
    } cases[] = {
        {"10.0.0.255", true, "10.0.0.255"}, {"192.168.010.7", true, "192.168.10.7"},
        {"10.0.0.256", false, "0.0.0.0"},   {"10.0.0", false, "0.0.0.0"},
        {"a.b.c.d", false, "0.0.0.0"},      {"", false, "0.0.0.0"},
    };
    for (const text_case &c : cases)
    {
        EXPECT_EQ(ip.SetAddressText(c.text), c.accepted) << c.text;
        EXPECT_EQ(ip.GetAddressText().toStdString(), c.shown) << c.text;
        EXPECT_EQ(ip.IsBlank(), !c.accepted) << c.text;
    }
    int changes = 0;
    QObject::connect(&ip, &CIPAddressCtrl::fieldChanged, [&] { ++changes; });
    ip.ClearAddress();
    activate(&ip);
    QWidget *first = ip.findChild<QWidget *>("field0");
    first->setFocus();
    // Each key goes where the focus is at that moment, as when a person types.
    auto type = [](const char *keys)
    {
        for (const char *k = keys; *k != '\0'; ++k)
            QTest::keyClick(QApplication::focusWidget(), *k);
    };
    type("1x72");
    EXPECT_EQ(ip.FieldText(0), "172") << "letters are refused, three digits move on";
    type("16.2569.9");
    EXPECT_EQ(ip.FieldText(1), "16");
    EXPECT_EQ(ip.FieldText(2), "25") << "256 and above never enter a field";
    EXPECT_EQ(ip.FieldText(3), "9");
    uint8_t b[4];
    EXPECT_EQ(ip.GetAddress(b[0], b[1], b[2], b[3]), 4);
    EXPECT_GT(changes, 0);
    ip.ClearAddress();
    ip.findChild<QLineEdit *>("field2")->setText("7");
    EXPECT_EQ(ip.GetAddress(b[0], b[1], b[2], b[3]), 1);
    EXPECT_FALSE(ip.IsBlank());
}

TEST(KovaDigitEdit, OnlyDigitsUpToTheLimitTypedOrPasted)
{
    kova_test::application();
    CDigitEdit edit(5);
    activate(&edit);
    QTest::keyClicks(&edit, "12ab-3 4");
    EXPECT_EQ(edit.text(), "1234");
    QTest::keyClicks(&edit, "5678");
    EXPECT_EQ(edit.text(), "12345");
    edit.clear();
    QGuiApplication::clipboard()->setText("98x");
    edit.paste();
    EXPECT_EQ(edit.text(), "") << "a paste with a letter is refused whole";
    QGuiApplication::clipboard()->setText("4321987");
    edit.paste();
    EXPECT_EQ(edit.text(), "43219") << "a long paste is cut at the limit";
}

TEST(KovaTabCtrl, ShowsOnlyTheSelectedPage)
{
    kova_test::application();
    struct tabs : CTabCtrl
    {
        int changes = 0;
        void OnSelChange() override { ++changes; }
    } control;
    std::vector<CDialog *> pages;
    for (const char *label : {"KR", "TX", "RAQE"})
    {
        auto *page = new CDialog();
        page->Create(&control);
        new QLabel(QString("LOG MESSAGES ") + label, page);
        EXPECT_EQ(control.InsertItem(control.GetItemCount(), label, page), static_cast<int>(pages.size()));
        pages.push_back(page);
    }
    control.resize(400, 200);
    control.show();
    int changes_before = control.changes;
    EXPECT_EQ(control.SetCurSel(2), 0);
    EXPECT_EQ(control.SetCurSel(7), -1);
    EXPECT_EQ(control.GetCurSel(), 2);
    kova_test::pump_for(20);
    EXPECT_FALSE(pages[0]->isVisible());
    EXPECT_FALSE(pages[1]->isVisible());
    EXPECT_TRUE(pages[2]->isVisible());
    EXPECT_EQ(control.changes, changes_before + 1);
    EXPECT_TRUE(KovaSaveScreenshot(&control, "shim_tab_pages"));
}

TEST(KovaMessageBox, TheHookRecordsAndAnswersOnTheAskingThread)
{
    kova_test::application();
    std::vector<KovaMessageBoxCall> calls;
    std::mutex calls_mutex;
    KovaSetMessageBoxHook(
        [&](const KovaMessageBoxCall &call)
        {
            std::lock_guard<std::mutex> guard(calls_mutex);
            calls.push_back(call);
            return call.type & MB_YESNO ? IDNO : IDOK;
        });
    EXPECT_EQ(KovaMessageBox(nullptr,
                             " QEL will restart to take changes into effect. Do you want to continue?",
                             "Warning", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2),
              IDNO);
    std::thread worker([] { EXPECT_EQ(KovaMessageBox(nullptr, "QEL Setup Error.", "Error"), IDOK); });
    worker.join();
    KovaSetMessageBoxHook(nullptr);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].caption, "Warning");
    EXPECT_EQ(calls[0].type, unsigned{MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2});
    EXPECT_EQ(calls[1].text, "QEL Setup Error.");
    EXPECT_EQ(calls[1].type, unsigned{MB_OK});
}

TEST(KovaMessageBox, AShownBoxAnswersTheButtonPressedAndPresetsTheDefault)
{
    kova_test::application();
    QTimer::singleShot(50,
                       []
                       {
                           auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                           ASSERT_NE(box, nullptr);
                           EXPECT_EQ(box->windowTitle(), "KOVA");
                           EXPECT_EQ(box->icon(), QMessageBox::Question);
                           EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
                           KovaSaveScreenshot(box, "shim_message_box");
                           box->button(QMessageBox::Yes)->click();
                       });
    EXPECT_EQ(KovaMessageBox(nullptr, "Are you sure you want to exit KOVA?", "KOVA",
                             MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2),
              IDYES);
}

TEST(KovaMessageBox, AskedOnAWorkerItIsShownOnTheUserInterfaceThreadAndTheWorkerGetsTheAnswer)
{
    kova_test::application();
    std::atomic<bool> shown_on_ui{false};
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout,
                     [&]
                     {
                         auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                         if (box == nullptr)
                             return;
                         poll.stop();
                         shown_on_ui = KovaIsUiThread() && box->text() == "QEL Setup Error.";
                         box->button(QMessageBox::No)->click();
                     });
    poll.start(10);
    std::atomic<int> answer{0};
    std::thread worker([&] { answer = KovaMessageBox(nullptr, "QEL Setup Error.", "Error", MB_YESNO); });
    EXPECT_TRUE(kova_test::pump_until([&] { return answer.load() != 0; }, 5000));
    worker.join();
    EXPECT_TRUE(shown_on_ui);
    EXPECT_EQ(answer.load(), IDNO);
}

TEST(KovaUiThread, WorkPostedFromAWorkerRunsOnTheUserInterfaceThread)
{
    kova_test::application();
    std::atomic<bool> ran_on_ui{false}, ran{false}, dropped_ran{false};
    auto *context = new QObject();
    std::thread worker(
        [&]
        {
            EXPECT_FALSE(KovaIsUiThread());
            KovaPostToUiThread(
                [&]
                {
                    ran_on_ui = KovaIsUiThread();
                    ran = true;
                });
            KovaPostToUiThread(context, [&] { dropped_ran = true; });
        });
    worker.join();
    delete context; // before the event loop ran: its work is dropped
    EXPECT_TRUE(kova_test::pump_until([&] { return ran.load(); }));
    EXPECT_TRUE(ran_on_ui);
    kova_test::pump_for(20);
    EXPECT_FALSE(dropped_ran);
}
