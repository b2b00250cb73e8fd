// Every dialog opens modally on the screen, and what the user changes in it
// reaches the model on OK and not on Cancel.
#include "DesktopFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest/QTest>

#include <filesystem>
#include <memory>

#include "core/Settings.h"
#include "service/ServiceFakes.h"
#include "support/FakeDirectories.h"
#include "toolkit/Cp1250.h"
#include "toolkit/TextSource.h"
#include "ui/AboutBox.h"
#include "ui/FInfo.h"
#include "ui/FSetDir.h"
#include "ui/FSetM602.h"
#include "ui/FSetPis.h"
#include "ui/FSetPort.h"
#include "ui/FSetServ.h"
#include "ui/FSetTrap.h"
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
    std::string port = "COM1:19200,N,8,1";
    std::string address = "dispecink", subject = "Alarm", comOn = "up", comOff = "down";
    char addressType = 'I';
    std::string configPath = "/srv/q9/q9.ini", workDir = "/srv/q9", user = "gw",
                password = "secret";
    std::string directory = "/srv/q9";
    FakeDirectories directories = [] {
        FakeDirectories fs;
        fs.Add("/srv/q9/pošta"); // as the file system spells it: UTF-8
        fs.Add("/srv/q9/spool");
        return fs;
    }();
    FakeServiceManager manager;
    FakeTexts serviceTexts;
    std::unique_ptr<ServiceControl> control;
};

// The row of a list whose text ends with `text` (entries are indented).
QModelIndex RowEndingWith(QListView* list, const QString& text) {
    return list->model()
        ->match(list->model()->index(0, 0), Qt::DisplayRole, text, 1, Qt::MatchEndsWith)
        .value(0);
}

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
         return std::make_unique<TFSetPort>(app, nullptr, v.port, std::vector<std::string>(),
                                            texts, FormTranslator());
     },
     [](TForm& form, desktop::FormView& view) {
         auto* combo =
             qobject_cast<QComboBox*>(view.WidgetOf(*static_cast<TFSetPort&>(form).ComboBox1));
         combo->setFocus();
         QTest::keyClick(combo, Qt::Key_Down);
         QTest::keyClick(combo, Qt::Key_Down);
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.port, ok ? "COM3:19200,N,8,1" : "COM1:19200,N,8,1");
     }},
    {"TFSetTrap",
     [](TApplication& app, Values& v, const std::string&) {
         return std::make_unique<TFSetTrap>(
             app, nullptr,
             TrapSettings{v.address, v.addressType, v.subject, v.comOn, v.comOff}, texts,
             FormTranslator());
     },
     [](TForm& form, desktop::FormView& view) {
         auto& d = static_cast<TFSetTrap&>(form);
         // The two message labels stand out in red and green, larger.
         auto* lost = qobject_cast<QLabel*>(view.WidgetOf(*d.Label4));
         auto* back = qobject_cast<QLabel*>(view.WidgetOf(*d.Label5));
         EXPECT_EQ(lost->palette().color(QPalette::WindowText), QColor(Qt::red));
         EXPECT_EQ(back->palette().color(QPalette::WindowText), QColor(0, 128, 0));
         EXPECT_EQ(lost->font().pixelSize(), 16);
         EXPECT_GT(lost->fontMetrics().height(),
                   view.WidgetOf(*d.Label1)->fontMetrics().height());
         auto* subject = qobject_cast<QLineEdit*>(view.WidgetOf(*d.EditSubject));
         subject->selectAll();
         TypeText(subject, QString::fromUtf8("Výpadek ústředny"));
         auto* type = qobject_cast<QComboBox*>(view.WidgetOf(*d.ComboBoxType));
         EXPECT_FALSE(type->isEditable());
         EXPECT_EQ(type->currentIndex(), 1);
         type->setFocus();
         QTest::keyClick(type, Qt::Key_Down);
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.subject, ok ? Cp1250FromUtf8("Výpadek ústředny") : "Alarm");
         EXPECT_EQ(v.addressType, ok ? 'Q' : 'I');
     }},
    {"TFSetM602",
     [](TApplication& app, Values& v, const std::string&) {
         return std::make_unique<TFSetM602>(
             app, nullptr, MailLoginSettings{v.configPath, v.workDir, v.user, v.password},
             v.directories, texts, FormTranslator());
     },
     [](TForm& form, desktop::FormView& view) {
         auto& d = static_cast<TFSetM602&>(form);
         auto* password = qobject_cast<QLineEdit*>(view.WidgetOf(*d.EditPassword));
         EXPECT_EQ(password->echoMode(), QLineEdit::Password);
         EXPECT_EQ(password->displayText(), QString(6, u'*')) << "shown as '*'";
         EXPECT_EQ(password->maxLength(), 20);
         password->selectAll();
         TypeText(password, "tajne-heslo");
         auto* user = qobject_cast<QLineEdit*>(view.WidgetOf(*d.EditUser));
         EXPECT_EQ(user->echoMode(), QLineEdit::Normal);
         user->selectAll();
         TypeText(user, QString::fromUtf8("Šárka"));
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.password, ok ? "tajne-heslo" : "secret");
         EXPECT_EQ(v.user, ok ? Cp1250FromUtf8("Šárka") : "gw");
     }},
    {"TFSetDir",
     [](TApplication& app, Values& v, const std::string&) {
         return std::make_unique<TFSetDir>(app, nullptr, v.directory, v.directories, texts,
                                           FormTranslator());
     },
     [](TForm& form, desktop::FormView& view) {
         auto& d = static_cast<TFSetDir&>(form);
         auto* drives = qobject_cast<QComboBox*>(view.WidgetOf(*d.DriveComboBox1));
         ASSERT_NE(drives, nullptr);
         EXPECT_FALSE(drives->isEditable()) << "a drop-down list";
         EXPECT_EQ(drives->currentText(), "/");
         auto* list = qobject_cast<QListView*>(view.WidgetOf(*d.DirectoryListBox1));
         ASSERT_NE(list, nullptr);
         const QModelIndex mail = RowEndingWith(list, QString::fromUtf8("pošta"));
         ASSERT_TRUE(mail.isValid()) << "the Czech name shows as it is spelt";
         const QPoint at = list->visualRect(mail).center();
         QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
         QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
         EXPECT_EQ(d.DirectoryListBox1->Directory(), "/srv/q9/pošta") << "opened";
         view.Flush();
         EXPECT_EQ(qobject_cast<QLabel*>(view.WidgetOf(*d.LabelPath))->text(),
                   QString::fromUtf8("/srv/q9/pošta"));
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.directory, ok ? Cp1250FromUtf8("/srv/q9/pošta") : "/srv/q9");
     }},
    {"TFSetServ",
     [](TApplication& app, Values& v, const std::string&) {
         v.manager.AddVendorUnit("tarvovantor.service", "active");
         v.control = std::make_unique<ServiceControl>(ServiceControlParts{
             .manager = &v.manager, .texts = v.serviceTexts, .wait = [](int) {}});
         return std::make_unique<TFSetServ>(app, nullptr, *v.control, FormTranslator());
     },
     [](TForm& form, desktop::FormView& view) {
         auto& d = static_cast<TFSetServ&>(form);
         auto* pages = qobject_cast<QTabWidget*>(view.WidgetOf(*d.PageControl1));
         ASSERT_NE(pages, nullptr);
         EXPECT_FALSE(pages->isTabVisible(0));
         EXPECT_TRUE(pages->isTabVisible(1));
         EXPECT_EQ(pages->currentIndex(), 1) << "the page of the service manager";
         EXPECT_EQ(d.PageControl1->ActivePage(), d.TabSheet2) << "showing it changed nothing";
         EXPECT_TRUE(view.WidgetOf(*d.CheckBox2)->isVisible());
         QWidget* stop = view.WidgetOf(*d.StopButton);
         EXPECT_TRUE(stop->isEnabled()) << "the service runs";
         EXPECT_FALSE(view.WidgetOf(*d.StartButton)->isVisible());
         QTest::mouseClick(stop, Qt::LeftButton);
         EXPECT_FALSE(stop->isEnabled()) << "stopped";
         ClickBox(view.WidgetOf(*d.CheckBox2)); // no longer a service
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.manager.units.at("tarvovantor.service").loadState != "loaded", ok)
             << "removed on OK only";
     }},
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
        TFSetPort dialog(app, nullptr, v.port, {}, texts, FormTranslator());
        WhenBlocked([&](QWidget& window) {
            if (escape)
                QTest::keyClick(&window, Qt::Key_Escape);
            else
                window.close();
        });
        EXPECT_EQ(dialog.ShowModal(), mrCancel) << escape;
        EXPECT_EQ(v.port, "COM1:19200,N,8,1");
    }
}

} // namespace
} // namespace vantor::test
