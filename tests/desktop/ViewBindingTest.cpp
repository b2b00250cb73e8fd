// The binding of the model to widgets: menus, message boxes, Windows-1250
// texts, controls changed from either side.
#include "DesktopFixture.h"

#include <QAction>
#include <QCoreApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest/QTest>

#include "desktop/MenuView.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Menus.h"

namespace vantor::test {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

class ViewBinding : public DesktopFixture {
protected:
    ViewBinding() {
        form.SetCaption(Cp1250FromUtf8("Nastavení účtování"));
        form.SetClientWidth(400);
        form.SetClientHeight(200);
        app.SetMainForm(&form);
        form.DoCreate();
    }
    TForm form{app, nullptr};
};

TEST_F(ViewBinding, AMenuActionRunsItsHandlerAndShowsTheItemsState) {
    TMainMenu menu(&form);
    int clicks = 0;
    TMenuItem& help = menu.Items().Add(Cp1250FromUtf8("&Nápověda"), 300);
    TMenuItem& contents = help.Add("Obsah", 301, [&](TObject*) { ++clicks; });
    contents.SetShortCut("Shift+F1");
    contents.SetHint(Cp1250FromUtf8("Obsah|Obsah nápovědy"));
    TMenuItem& marked = help.Add("XAPI", 231, [&](TObject* s) {
        auto* item = static_cast<TMenuItem*>(s);
        item->SetChecked(!item->Checked());
    });
    form.Show();
    desktop::MenuView* menus = ViewOf(form)->Menus();
    ASSERT_NE(menus, nullptr);
    QAction* helpAction = menus->ActionOf(help);
    QAction* action = menus->ActionOf(contents);
    ASSERT_TRUE(helpAction && action);
    EXPECT_EQ(helpAction->text(), U("&Nápověda")); // the mnemonic stays a mnemonic
    EXPECT_EQ(action->shortcut(), QKeySequence("Shift+F1"));
    EXPECT_EQ(action->statusTip(), U("Obsah nápovědy"));
    action->trigger();
    EXPECT_EQ(clicks, 1);
    // The shortcut works while the window is active.
    ViewOf(form)->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(ViewOf(form)));
    QTest::keyClick(ViewOf(form), Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_EQ(clicks, 2);

    QAction* xapi = menus->ActionOf(marked);
    xapi->trigger(); // the handler sets the mark: the view shows it
    EXPECT_TRUE(xapi->isChecked());
    marked.SetChecked(false); // and from the model's side
    EXPECT_FALSE(xapi->isChecked());
    marked.SetVisible(false);
    EXPECT_FALSE(xapi->isVisible());
    marked.SetEnabled(false);
    EXPECT_FALSE(xapi->isEnabled());
    contents.SetCaption(Cp1250FromUtf8("Obsah nápovědy"));
    EXPECT_EQ(action->text(), U("Obsah nápovědy"));
}

TEST_F(ViewBinding, AMessageBoxReturnsTheButtonTheUserPressed) {
    struct Case {
        unsigned flags;
        QMessageBox::Icon icon;
        QMessageBox::StandardButton defaultButton;
        std::function<void(QMessageBox&)> play;
        int answer;
    };
    const Case cases[] = {
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, QMessageBox::Question, QMessageBox::No,
         [](QMessageBox& b) { QTest::mouseClick(b.button(QMessageBox::Yes), Qt::LeftButton); },
         IDYES},
        {MB_OKCANCEL | MB_ICONWARNING, QMessageBox::Warning, QMessageBox::Ok,
         [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, IDCANCEL},
        {MB_OK | MB_ICONSTOP, QMessageBox::Critical, QMessageBox::Ok,
         [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }, IDOK},
        {MB_YESNOCANCEL | MB_ICONINFORMATION | MB_DEFBUTTON3, QMessageBox::Information,
         QMessageBox::Cancel, [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); },
         IDCANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        QString text, caption;
        WhenBlocked([&](QWidget& window) {
            auto& box = static_cast<QMessageBox&>(window);
            text = box.text();
            caption = box.windowTitle();
            EXPECT_EQ(box.icon(), c.icon);
            EXPECT_EQ(box.defaultButton(), box.button(c.defaultButton));
            c.play(box);
        });
        const int answer =
            desktop.MessageBox(Cp1250FromUtf8("Soubor nelze vytvořit.\r\nZkuste jiný."),
                               Cp1250FromUtf8("Chyba účtování"), c.flags);
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(text, U("Soubor nelze vytvořit.\nZkuste jiný."));
        EXPECT_EQ(caption, U("Chyba účtování"));
    }
}

TEST_F(ViewBinding, Windows1250TextsShowAsUnicodeAndTypedTextComesBack) {
    auto& label = form.Create<TLabel>(&form);
    label.SetCaption(Cp1250FromUtf8("Příliš žluťoučký kůň úpěl ďábelské ódy"));
    label.SetBounds(8, 8, 380, 16);
    auto& box = form.Create<TCheckBox>(&form);
    box.SetCaption(Cp1250FromUtf8("Předávat účtovací data na IP"));
    box.SetBounds(8, 30, 300, 17);
    auto& edit = form.Create<TEdit>(&form);
    edit.SetBounds(8, 56, 200, 21);
    edit.SetMaxLength(5);
    // An over-long caption from a language file is cut off by the control,
    // and nothing else happens.
    auto& longLabel = form.Create<TLabel>(&form);
    longLabel.SetCaption(std::string(5000, 'W'));
    longLabel.SetBounds(8, 90, 100, 16);
    form.Show();
    EXPECT_EQ(ViewOf(form)->windowTitle(), U("Nastavení účtování"));
    EXPECT_EQ(WidgetOf<QLabel>(form, label)->text(), U("Příliš žluťoučký kůň úpěl ďábelské ódy"));
    EXPECT_EQ(WidgetOf<QCheckBox>(form, box)->text(), U("Předávat účtovací data na IP"));
    EXPECT_EQ(WidgetOf<QLabel>(form, longLabel)->width(), 100);

    auto* line = WidgetOf<QLineEdit>(form, edit);
    TypeText(line, U("čšžřýá")); // the edit takes five
    EXPECT_EQ(edit.Text(), Cp1250FromUtf8("čšžřý"));
    edit.SetReadOnly(true);
    Sync();
    TypeText(line, U("x"));
    EXPECT_EQ(edit.Text(), Cp1250FromUtf8("čšžřý"));
    edit.SetText("abc"); // from the model's side
    Sync();
    EXPECT_EQ(line->text(), "abc");
}

TEST_F(ViewBinding, ControlsFollowTheModelAndComeAndGo) {
    auto& button = form.Create<TButton>(&form);
    button.SetCaption("&OK");
    button.SetBounds(10, 10, 75, 25);
    int clicks = 0;
    button.OnClick = [&](TObject*) { ++clicks; };
    form.Show();
    auto* widget = WidgetOf<QPushButton>(form, button);
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    button.SetEnabled(false); // a disabled control ignores clicks
    QTest::mouseClick(widget, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    button.SetBounds(20, 30, 90, 27);
    Sync();
    EXPECT_EQ(widget->geometry(), QRect(20, 30, 90, 27));
    button.SetVisible(false);
    Sync();
    EXPECT_TRUE(widget->isHidden());
    TFont bold;
    bold.Bold = true;
    bold.Color = clNavy;
    button.SetFont(bold);
    Sync();
    EXPECT_TRUE(widget->font().bold());
    EXPECT_EQ(widget->palette().color(QPalette::Active, QPalette::ButtonText), QColor(0, 0, 0x80));
    // The button is disabled: its text stays the style's grey.
    EXPECT_NE(widget->palette().color(QPalette::ButtonText), QColor(0, 0, 0x80));
    // Resizing the window reaches the form (and its OnResize).
    int resized = 0;
    form.OnResize = [&](TObject*) { ++resized; };
    ViewOf(form)->resize(500, 300);
    EXPECT_EQ(form.ClientWidth(), 500);
    EXPECT_EQ(form.ClientHeight(), 300);
    EXPECT_GE(resized, 1);
    // A control added later shows; a control freed goes from the window.
    auto& late = form.Create<TLabel>(&form);
    late.SetCaption("late");
    ASSERT_NE(WidgetOf<QLabel>(form, late), nullptr);
    QPointer<QWidget> gone = widget;
    form.FreeComponent(&button);
    EXPECT_TRUE(gone.isNull() || gone->isHidden());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(gone.isNull());
}

TEST_F(ViewBinding, PagesRadioGroupsCombosAndMemosGoBothWays) {
    auto& pages = form.Create<TPageControl>(&form);
    pages.SetBounds(0, 0, 300, 150);
    auto& first = form.Create<TTabSheet>(&pages);
    first.SetCaption("Instalace");
    auto& second = form.Create<TTabSheet>(&pages);
    second.SetCaption(Cp1250FromUtf8("Spuštění"));
    auto& onSecond = form.Create<TCheckBox>(&second);
    onSecond.SetCaption("x");
    int pageChanges = 0;
    pages.OnChange = [&](TObject*) { ++pageChanges; };
    auto& radio = form.Create<TRadioGroup>(&form);
    radio.SetBounds(0, 150, 200, 60);
    radio.Items().Assign({"Windows 95/98", "Windows NT"});
    auto& combo = form.Create<TComboBox>(&form);
    combo.SetBounds(210, 150, 150, 21);
    combo.Items().Assign({"COM 1", "COM 2"});
    combo.SetItemIndex(0);
    auto& memo = form.Create<TMemo>(&form);
    memo.SetBounds(0, 220, 300, 40);
    pages.SetActivePage(&second);
    form.Show();

    auto* tabs = WidgetOf<QTabWidget>(form, pages);
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(1), U("Spuštění"));
    EXPECT_EQ(WidgetOf<QCheckBox>(form, onSecond)->parentWidget(), tabs->widget(1));
    EXPECT_EQ(tabs->currentIndex(), 1) << "the page the form chose";
    EXPECT_EQ(pages.ActivePage(), &second);
    EXPECT_EQ(pageChanges, 0) << "showing the window is no page change";
    tabs->setCurrentIndex(0); // the user picks the tab
    EXPECT_EQ(pages.ActivePage(), &first);
    EXPECT_EQ(pageChanges, 1);
    pages.SetActivePageIndex(1); // the program does
    Sync();
    EXPECT_EQ(tabs->currentIndex(), 1);
    second.SetTabVisible(false);
    Sync();
    EXPECT_FALSE(tabs->isTabVisible(1));
    EXPECT_EQ(pageChanges, 1);

    auto* nt = WidgetOf<QWidget>(form, radio)->findChildren<QRadioButton*>().value(1);
    ASSERT_NE(nt, nullptr);
    QTest::mouseClick(nt, Qt::LeftButton, {}, QPoint(6, nt->height() / 2));
    EXPECT_EQ(radio.ItemIndex(), 1);
    radio.SetItemIndex(0);
    Sync();
    EXPECT_FALSE(nt->isChecked());

    auto* box = WidgetOf<QComboBox>(form, combo);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(combo.ItemIndex(), 1);
    EXPECT_EQ(combo.Text(), "COM 2");

    auto* text = WidgetOf<QPlainTextEdit>(form, memo);
    TypeText(text, U("řádek"));
    EXPECT_EQ(memo.Text(), Cp1250FromUtf8("řádek"));
    memo.SetText("one\r\ntwo");
    Sync();
    EXPECT_EQ(text->toPlainText(), "one\ntwo");
}

} // namespace
} // namespace vantor::test
