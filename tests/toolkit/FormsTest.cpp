#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/BatchedOutput.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"
#include "toolkit/VirtualLoop.h"

namespace vantor {
namespace {

// A small settings dialog as the gateway builds them.
class TFSetDemo : public TForm {
public:
    TFSetDemo(TApplication& app, TComponent* owner) : TForm(app, owner) {
        SetCaption("Demo");
        SetPosition(poScreenCenter);
        SetBounds(0, 0, 300, 200);
        Ok.SetModalResult(mrOk);
        Cancel.SetModalResult(mrCancel);
        DoCreate();
    }
    std::string ClassName() const override { return "TFSetDemo"; }
    TCheckBox Box{this, this};
    TButton Ok{this, this};
    TButton Cancel{this, this};
};

struct FormsFixture : ::testing::Test {
    VirtualLoop loop;
    ScriptedDesktop desk;
    TApplication app{loop, desk};
};

TEST_F(FormsFixture, ShowModalReturnsWhatTheUserChoseAndHidesAfterwards) {
    TForm main(app, nullptr);
    app.SetMainForm(&main);
    main.Show();
    TFSetDemo dlg(app, &main);
    bool visibleWhileModal = false;
    std::vector<std::string> events;
    dlg.OnShow = [&](TObject*) { events.push_back("show"); };
    dlg.OnClose = [&](TObject*, TCloseAction& a) {
        events.push_back("close");
        EXPECT_EQ(a, caHide);
    };
    desk.OnModal("TFSetDemo", [&](TForm& f) {
        auto& d = static_cast<TFSetDemo&>(f);
        visibleWhileModal = d.Visible() && d.Modal() && app.ActiveForm() == &d;
        d.Box.Click();
        d.Ok.Click();
        return d.ModalResult();
    });
    EXPECT_EQ(dlg.ShowModal(), mrOk);
    EXPECT_TRUE(visibleWhileModal);
    EXPECT_TRUE(dlg.Box.Checked());
    EXPECT_FALSE(dlg.Visible());
    EXPECT_FALSE(dlg.Modal());
    EXPECT_EQ(app.ActiveForm(), &main);
    EXPECT_EQ(events, (std::vector<std::string>{"show", "close"}));

    // A script that just closes the window: the dialog counts as cancelled,
    // and the result of the previous run does not linger.
    desk.OnModal("TFSetDemo", [](TForm& f) {
        f.Close();
        return mrNone;
    });
    EXPECT_EQ(dlg.ShowModal(), mrCancel);
    // No script at all: cancelled too.
    TForm plain(app, nullptr);
    EXPECT_EQ(plain.ShowModal(), mrCancel);
    EXPECT_EQ(desk.modalForms, (std::vector<std::string>{"TFSetDemo", "TFSetDemo", "TForm"}));
}

TEST_F(FormsFixture, ModalRunThatThrowsStillEndsTheDialog) {
    TFSetDemo dlg(app, nullptr);
    desk.OnModal("TFSetDemo", [](TForm&) -> int { throw std::runtime_error("boom"); });
    EXPECT_THROW(dlg.ShowModal(), std::runtime_error);
    EXPECT_FALSE(dlg.Visible());
    EXPECT_FALSE(dlg.Modal());
    desk.OnModal("TFSetDemo", [](TForm&) { return mrYes; });
    EXPECT_EQ(dlg.ShowModal(), mrYes);
}

TEST_F(FormsFixture, PositionAppliesAtFirstShowUnlessPlacedByHand) {
    desk.screenWidth = 1000;
    desk.screenHeight = 800;
    TFSetDemo centred(app, nullptr);
    centred.Show();
    EXPECT_EQ(centred.Left(), 350);
    EXPECT_EQ(centred.Top(), 300);

    // Placed over the main window by the caller: the placement stands.
    TForm main(app, nullptr);
    main.SetBounds(100, 50, 495, 371);
    TFSetDemo placed(app, &main);
    placed.SetLeft(main.Left() + (main.ClientWidth() - placed.Width()) / 2);
    placed.SetTop(main.Top() + (main.ClientHeight() - placed.Height()) / 2);
    placed.ShowModal();
    EXPECT_EQ(placed.Left(), 100 + (487 - 300) / 2);
    EXPECT_EQ(placed.Top(), 50 + (344 - 200) / 2);
}

TEST_F(FormsFixture, CloseOfMainFormTerminatesOtherFormsHide) {
    TForm main(app, nullptr);
    TForm other(app, nullptr);
    app.SetMainForm(&main);
    main.Show();
    other.Show();
    TCloseAction wanted = caNone;
    other.OnClose = [&](TObject*, TCloseAction& a) { a = wanted; };
    other.Close();
    EXPECT_TRUE(other.Visible()); // caNone keeps it open
    wanted = caFree;
    other.Close();
    EXPECT_FALSE(other.Visible());
    EXPECT_FALSE(app.Terminated());
    main.OnClose = [](TObject*, TCloseAction& a) { a = caFree; };
    main.Close();
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(app.Run(), 0); // ends at once
}

TEST_F(FormsFixture, ActivationAndResizeEvents) {
    TForm main(app, nullptr);
    int activated = 0, changes = 0, resized = 0;
    main.OnActivate = [&](TObject*) { app.SetHelpFile("VANTOR.HLP"), ++activated; };
    app.OnActiveFormChange = [&](TObject*) { ++changes; };
    main.OnResize = [&](TObject*) { ++resized; };
    main.Show();
    main.Show(); // already active
    EXPECT_EQ(activated, 1);
    EXPECT_EQ(changes, 1);
    main.SetClientWidth(487);
    main.SetClientHeight(344);
    EXPECT_EQ(main.Width(), 495);
    EXPECT_EQ(main.Height(), 371);
    EXPECT_EQ(resized, 2);
    main.SetWidth(495); // no change
    EXPECT_EQ(resized, 2);
    app.HelpCommand(HELP_CONTENTS, 0);
    ASSERT_EQ(desk.helpCalls.size(), 1u);
    EXPECT_EQ(desk.helpCalls[0].helpFile, "VANTOR.HLP");
    EXPECT_EQ(desk.helpCalls[0].command, HELP_CONTENTS);
}

TEST_F(FormsFixture, DestroyRunsOnDestroyOnceThenFreesOwnedComponents) {
    std::vector<std::string> order;
    struct Probe : TComponent {
        Probe(TComponent* o, std::vector<std::string>& log, std::string n)
            : TComponent(o), log(log), n(n) {}
        ~Probe() override { log.push_back("free " + n); }
        std::vector<std::string>& log;
        std::string n;
    };
    {
        TForm form(app, nullptr);
        app.SetMainForm(&form);
        form.Create<Probe>(order, "first");
        form.Create<Probe>(order, "second");
        form.OnDestroy = [&](TObject*) { order.push_back("destroy"); };
        form.DoDestroy();
        form.DoDestroy();
    }
    EXPECT_EQ(order, (std::vector<std::string>{"destroy", "free second", "free first"}));
    EXPECT_EQ(app.MainForm(), nullptr);
}

TEST_F(FormsFixture, ExceptionBoxAddsFinalStop) {
    app.ShowException(std::runtime_error("Port COM2 not found"));
    app.ShowException(std::runtime_error("Already said."));
    ASSERT_EQ(desk.messageBoxes.size(), 2u);
    EXPECT_EQ(desk.messageBoxes[0].text, "Port COM2 not found.");
    EXPECT_EQ(desk.messageBoxes[0].caption, "Tarvo Vantor");
    EXPECT_EQ(desk.messageBoxes[0].flags, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(desk.messageBoxes[1].text, "Already said.");
}

TEST_F(FormsFixture, PopupMenuGoesThroughTheDesktop) {
    TPopupMenu tray(nullptr, desk);
    int popped = 0;
    tray.OnPopup = [&](TObject*) { ++popped; };
    tray.Popup(10, 75);
    ASSERT_EQ(desk.popups.size(), 1u);
    EXPECT_EQ(desk.popups[0].menu, &tray);
    EXPECT_EQ(desk.popups[0].y, 75);
    EXPECT_EQ(popped, 1);
}

TEST(Desktops, DefaultAnswersFollowTheDefaultButton) {
    EXPECT_EQ(DefaultMessageBoxAnswer(MB_OK | MB_ICONWARNING), IDOK);
    EXPECT_EQ(DefaultMessageBoxAnswer(MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(DefaultMessageBoxAnswer(MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(DefaultMessageBoxAnswer(MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    EXPECT_EQ(DefaultMessageBoxAnswer(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(DefaultMessageBoxAnswer(MB_RETRYCANCEL | MB_DEFBUTTON3), IDRETRY); // no third button
}

TEST(Desktops, HeadlessPrintsOneUtf8LineAndHasNoTray) {
    std::ostringstream out;
    HeadlessDesktop desk(out);
    const int answer =
        desk.MessageBox(Cp1250FromUtf8("Chybí konfigurační soubor.\r\nPoužiji výchozí."),
                        Cp1250FromUtf8("Upozornění"), MB_YESNO | MB_ICONWARNING);
    EXPECT_EQ(answer, IDYES);
    EXPECT_EQ(out.str(), "MessageBox [Upozornění] Chybí konfigurační soubor. Použiji výchozí.\n");
    EXPECT_FALSE(desk.TrayIcon(TrayOperation::Add, TrayIconData{}));
    int x = 0, y = 0;
    EXPECT_FALSE(desk.GetCursorPos(x, y));
    VirtualLoop loop;
    TApplication app(loop, desk);
    TForm dlg(app, nullptr);
    EXPECT_EQ(dlg.ShowModal(), mrCancel);
}

// A virtual loop with a moment before it waits, as the real one has.
struct WaitingLoop : VirtualLoop {
    BeforeWait beforeWait;
    bool setBeforeWait(BeforeWait hook) override {
        beforeWait = std::move(hook);
        return true;
    }
};

TEST(Desktops, HeadlessOutputWaitsForTheLoopAtMostItsDelayAndFlushesGoAtOnce) {
    std::ostringstream target;
    {
        BatchedOutput buffer(target, std::chrono::milliseconds(10));
        std::ostream out(&buffer);
        out << "start\n"; // no loop yet: line by line
        EXPECT_EQ(target.str(), "start\n");
        WaitingLoop loop;
        ASSERT_TRUE(buffer.Attach(loop));
        out << "one\n";
        EXPECT_EQ(target.str(), "start\n");
        EXPECT_EQ(loop.beforeWait(), -1); // the first since a quiet spell: at once
        EXPECT_EQ(target.str(), "start\none\n");
        out << "two\nthree\n";
        loop.advance(4);
        EXPECT_EQ(loop.beforeWait(), 6); // held; the loop waits 6 ms at most
        EXPECT_EQ(target.str(), "start\none\n");
        loop.advance(6);
        EXPECT_EQ(loop.beforeWait(), -1);
        EXPECT_EQ(target.str(), "start\none\ntwo\nthree\n");
        out << "box\n" << std::flush; // a message box: at once
        EXPECT_EQ(target.str(), "start\none\ntwo\nthree\nbox\n");
        out << "last\n";
        EXPECT_EQ(loop.beforeWait(), 10);
    }
    EXPECT_EQ(target.str(), "start\none\ntwo\nthree\nbox\nlast\n"); // the end writes the rest
}

TEST(Desktops, ScriptedRecordsAndAnswers) {
    ScriptedDesktop desk;
    desk.QueueMessageBoxAnswer(IDNO);
    EXPECT_EQ(desk.MessageBox("Install?", "Service", MB_YESNO), IDNO);
    EXPECT_EQ(desk.MessageBox("Again?", "Service", MB_YESNO), IDYES); // queue empty: default
    ASSERT_EQ(desk.messageBoxes.size(), 2u);
    EXPECT_EQ(desk.messageBoxes[0].answer, IDNO);

    TrayIconData data;
    data.iconId = 1006;
    data.tip = "Tarvo Vantor";
    desk.SetTrayAvailable(false);
    EXPECT_FALSE(desk.TrayIcon(TrayOperation::Add, data));
    desk.SetTrayAvailable(true);
    EXPECT_TRUE(desk.TrayIcon(TrayOperation::Add, data));
    ASSERT_EQ(desk.trayCalls.size(), 2u);
    EXPECT_EQ(desk.trayCalls[1].data.tip, "Tarvo Vantor");

    int x = 0, y = 0;
    desk.SetCursorPos(std::pair{640, 700});
    EXPECT_TRUE(desk.GetCursorPos(x, y));
    EXPECT_EQ(x, 640);
    desk.SetCursorPos(std::nullopt);
    EXPECT_FALSE(desk.GetCursorPos(x, y));

    desk.QueueSaveFileAnswer(std::string("/tmp/DATA.NEW"));
    EXPECT_EQ(desk.SaveFileDialog({}).value_or(""), "/tmp/DATA.NEW");
    EXPECT_FALSE(desk.SaveFileDialog({}).has_value());
}

} // namespace
} // namespace vantor
