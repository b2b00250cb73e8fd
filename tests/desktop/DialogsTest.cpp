// Every dialog opens modally on the screen, and what the user changes in it
// reaches the model on OK and not on Cancel.
#include "DesktopFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include <filesystem>
#include <memory>

#include "core/Settings.h"
#include "toolkit/Cp1250.h"
#include "toolkit/TextSource.h"
#include "ui/AboutBox.h"
#include "ui/FInfo.h"
#include "ui/FSetPis.h"
#include "ui/FSetPort.h"
#include "ui/FSetUct.h"

namespace vantor::test {
namespace {

class NoTexts : public TextSource {
public:
    std::string Msg(int) const override { return {}; }
    std::string Text(int) override { return {}; }
};

// The values the dialogs edit, fresh for each run.
struct Values {
    LogSettings log;
    std::uint8_t readUct = 1, sendUct = 0;
    std::string uctFile = "DATA.NEW";
    int port = 0;
};

struct DialogCase {
    const char* name;
    std::function<std::unique_ptr<TForm>(TApplication&, Values&, const std::string& dir)> make;
    // What the user does before pressing the button that ends the dialog.
    std::function<void(TForm&, desktop::FormView&)> edit;
    int endWith; // mrOk or mrCancel: which button the user presses
    std::function<void(const Values&, bool ok)> check;
};

NoTexts texts;

const DialogCase Cases[] = {
    {"TFSetPis",
     [](TApplication& app, Values& v, const std::string&) {
         return std::make_unique<TFSetPis>(
             app, nullptr, v.log,
             FormTranslator());
     },
     [](TForm& form, desktop::FormView& view) {
         auto& d = static_cast<TFSetPis&>(form);
         ClickBox(view.WidgetOf(*d.CheckBox2));
         ClickBox(view.WidgetOf(*d.CheckBox3));
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.log.Com_Out, ok ? 1 : 0);
         EXPECT_EQ(v.log.TCPIP_In, ok ? 0 : 1);
         EXPECT_EQ(v.log.Com_In, 1);
     }},
    {"TFSetUct",
     [](TApplication& app, Values& v, const std::string& dir) {
         return std::make_unique<TFSetUct>(app, nullptr, dir, texts, v.readUct, v.sendUct,
                                           v.uctFile);
     },
     [](TForm& form, desktop::FormView& view) {
         auto& d = static_cast<TFSetUct&>(form);
         auto* edit = qobject_cast<QLineEdit*>(view.WidgetOf(d.EditUR));
         edit->selectAll();
         TypeText(edit, QString::fromUtf8("ÚČTY.DAT"));
         ClickBox(view.WidgetOf(d.CheckBoxIP));
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.uctFile, ok ? Cp1250FromUtf8("ÚČTY.DAT") : "DATA.NEW");
         EXPECT_EQ(v.sendUct, ok ? 1 : 0);
     }},
    {"TFSetPort",
     [](TApplication& app, Values& v, const std::string&) {
         return std::make_unique<TFSetPort>(app, nullptr, v.port, FormTranslator());
     },
     [](TForm& form, desktop::FormView& view) {
         auto* combo =
             qobject_cast<QComboBox*>(view.WidgetOf(*static_cast<TFSetPort&>(form).ComboBox1));
         combo->setFocus();
         QTest::keyClick(combo, Qt::Key_Down);
         QTest::keyClick(combo, Qt::Key_Down);
     },
     mrOk, [](const Values& v, bool ok) { EXPECT_EQ(v.port, ok ? 2 : 0); }},
    {"TFInfo",
     [](TApplication& app, Values&, const std::string&) {
         return std::make_unique<TFInfo>(app, nullptr, std::string(300, 'x') + "END",
                                         FormTranslator());
     },
     [](TForm& form, desktop::FormView& view) {
         auto* memo =
             qobject_cast<QPlainTextEdit*>(view.WidgetOf(*static_cast<TFInfo&>(form).Memo1));
         EXPECT_EQ(memo->toPlainText(), QString(300, u'x') + "END"); // the whole line
         EXPECT_TRUE(memo->isReadOnly());
     },
     mrCancel, nullptr},
    {"TAboutBox",
     [](TApplication& app, Values&, const std::string&) {
         return std::make_unique<TAboutBox>(app, nullptr, FormTranslator());
     },
     [](TForm& form, desktop::FormView& view) {
         auto& about = static_cast<TAboutBox&>(form);
         EXPECT_EQ(qobject_cast<QLabel*>(view.WidgetOf(*about.ProductName))->text(),
                   "Tarvo Vantor");
         EXPECT_EQ(qobject_cast<QLabel*>(view.WidgetOf(*about.Version))->text(),
                   QString::fromStdString(GatewayVersionText()));
         // Double-clicking the notice line shows the build stamp.
         QTest::mouseDClick(view.WidgetOf(*about.Notice), Qt::LeftButton);
         EXPECT_TRUE(qobject_cast<QLabel*>(view.WidgetOf(*about.InfoLine))->text().contains(u','));
     },
     mrCancel, nullptr},
};

class Dialogs : public DesktopFixture {
protected:
    std::string dir =
        (std::filesystem::temp_directory_path() / ("vantor-dialogs-" + std::to_string(::getpid())))
            .string();
    Dialogs() { std::filesystem::create_directories(dir); }
    ~Dialogs() override { std::filesystem::remove_all(dir); }

    // The button of the dialog that ends it with `result`.
    static QPushButton* ButtonFor(TForm& form, desktop::FormView& view, int result) {
        std::vector<TControl*> pending{&form};
        while (!pending.empty()) {
            TControl* c = pending.back();
            pending.pop_back();
            for (TControl* child : c->Controls()) {
                auto* b = dynamic_cast<TButton*>(child);
                const bool ends =
                    b && (b->ModalResult() == result || (result == mrOk && b->Default()) ||
                          (result == mrCancel && b->Cancel()));
                if (ends) return qobject_cast<QPushButton*>(view.WidgetOf(*b));
                pending.push_back(child);
            }
        }
        return nullptr;
    }
};

TEST_F(Dialogs, EachOpensModallyAndKeepsTheUsersChangeOnlyOnOk) {
    for (const DialogCase& c : Cases) {
        for (int end : {c.endWith, mrCancel}) {
            SCOPED_TRACE(std::string(c.name) + (end == mrOk ? " OK" : " Cancel"));
            Values values;
            std::unique_ptr<TForm> form = c.make(app, values, dir);
            bool played = false;
            WhenBlocked([&](QWidget& window) {
                played = true;
                EXPECT_TRUE(window.isVisible());
                EXPECT_EQ(QApplication::activeModalWidget(), &window);
                // The title bar offers what the form's border icons say.
                const Qt::WindowFlags flags = window.windowFlags();
                const unsigned icons = form->BorderIcons();
                EXPECT_EQ(bool(flags & Qt::WindowCloseButtonHint), bool(icons & biSystemMenu));
                EXPECT_EQ(bool(flags & Qt::WindowMaximizeButtonHint), bool(icons & biMaximize));
                EXPECT_EQ(bool(flags & Qt::WindowMinimizeButtonHint), bool(icons & biMinimize));
                auto& view = static_cast<desktop::FormView&>(window);
                c.edit(*form, view);
                QPushButton* button = ButtonFor(*form, view, end);
                ASSERT_NE(button, nullptr);
                QTest::mouseClick(button, Qt::LeftButton);
            });
            EXPECT_EQ(form->ShowModal(), end);
            EXPECT_TRUE(played);
            if (c.check) c.check(values, end == mrOk);
            if (c.endWith == mrCancel) break;
        }
    }
}

TEST_F(Dialogs, EscapePressesTheCancelButtonAndClosingTheWindowCancels) {
    for (bool escape : {true, false}) {
        Values v;
        TFSetPort dialog(app, nullptr, v.port, FormTranslator());
        WhenBlocked([&](QWidget& window) {
            if (escape)
                QTest::keyClick(&window, Qt::Key_Escape);
            else
                window.close();
        });
        EXPECT_EQ(dialog.ShowModal(), mrCancel) << escape;
        EXPECT_EQ(v.port, 0);
    }
}

} // namespace
} // namespace vantor::test
