// The main window as the operator sees it: caption, size, controls, menus, the handlers
// that change and remember selections, the status memo and the run UI it offers the engine.
#include "test_window_support.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTextBlock>

#include <algorithm>
#include <functional>
#include <sstream>

namespace {

void DoubleClick(QWidget* w)
{
    QPointF p(5, 5);
    QMouseEvent e(QEvent::MouseButtonDblClick, p, w->mapToGlobal(p), Qt::LeftButton, Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// The window as the operator meets it, one line per control: the caption and flags of the
// window, then every named control in tab order (those that take no focus after them) with
// its caption, hint, items and state, then the status panels and the menus.
std::string Look(QWidget* window)
{
    std::ostringstream out;
    const Qt::WindowFlags f = window->windowFlags();
    out << window->windowTitle().toStdString() << " " << window->width() << "x" << window->height()
        << (window->minimumSize() == window->maximumSize() ? " fixed" : "")
        << (f & Qt::WindowMaximizeButtonHint ? " maximise" : "") << (f & Qt::WindowMinimizeButtonHint ? " minimise" : "")
        << (f & Qt::WindowCloseButtonHint ? " close" : "") << "\n";
    std::vector<QWidget*> order;
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
        if (!w->objectName().isEmpty() && (w->focusPolicy() & Qt::TabFocus) && w->parentWidget())
            order.push_back(w);
    for (QWidget* w : window->findChildren<QWidget*>())
        if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_") &&
            std::find(order.begin(), order.end(), w) == order.end())
            order.push_back(w);
    for (QWidget* w : order) {
        out << w->metaObject()->className() << " " << w->objectName().toStdString();
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            out << " \"" << b->text().toStdString() << "\"";
        if (auto* l = qobject_cast<QLabel*>(w))
            out << " \"" << l->text().toStdString() << "\"" << (l->alignment() & Qt::AlignHCenter ? " centred" : "")
                << (w->parentWidget() == window->findChild<QStatusBar*>() ? " width " + std::to_string(l->width()) : "");
        if (auto* g = qobject_cast<QGroupBox*>(w))
            out << " \"" << g->title().toStdString() << "\"";
        if (auto* c = qobject_cast<QComboBox*>(w)) {
            out << " [";
            for (int i = 0; i < c->count(); ++i) out << (i ? "|" : "") << c->itemText(i).toStdString();
            out << "] at " << c->currentIndex() << (c->isEditable() ? " editable" : "");
        }
        if (auto* e = qobject_cast<QLineEdit*>(w); e && e->isReadOnly())
            out << " read-only";
        if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
            QFontMetrics metrics(m->font());
            out << (m->isReadOnly() ? " read-only" : "") << (m->lineWrapMode() == QPlainTextEdit::NoWrap ? " nowrap" : "")
                << (m->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn ? " vscroll" : "")
                << (m->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn ? " hscroll" : "")
                << (metrics.horizontalAdvance("iiii") == metrics.horizontalAdvance("WWWW") ? " fixed-pitch" : "");
        }
        if (!w->toolTip().isEmpty())
            out << " tip \"" << w->toolTip().toStdString() << "\"";
        out << (w->isEnabled() ? "" : " disabled") << "\n";
    }
    std::function<void(QMenu*, const std::string&)> menu = [&](QMenu* m, const std::string& indent) {
        for (QAction* a : m->actions()) {
            out << indent << (a->isSeparator() ? "-" : a->text().toStdString()) << "\n";
            if (a->menu())
                menu(a->menu(), indent + "  ");
        }
    };
    for (QAction* a : window->findChild<QMenuBar*>()->actions()) {
        out << "menu " << a->text().toStdString() << "\n";
        menu(a->menu(), "  ");
    }
    return out.str();
}

TEST_F(WindowTest, looksAsItsGoldenDump)
{
    Start();
    const std::string golden = std::string(QV_SOURCE_DIR) + "/tests/app/golden/window.txt";
    if (std::getenv("QV_UPDATE_GOLDEN"))
        WriteFile(golden, Look(window.get()));
    EXPECT_EQ(Look(window.get()), ReadFileBytes(golden));
    // Panels outside the six are ignored.
    Status().SetPanel(static_cast<Panel>(6), "nowhere");
    Status().SetPanel(static_cast<Panel>(-1), "nowhere");
    EXPECT_EQ(Status().ReadPanel(static_cast<Panel>(6)), "");
}

using WindowSelectionTest = WindowTest;

TEST_F(WindowSelectionTest, baudItems_areExclusive_setPanel3_andAreRememberedAtOnce)
{
    Start();
    const std::pair<const char*, int> rows[] = {
        {"N24001", 2400}, {"N12001", 1200}, {"N48001", 4800}, {"N96001", 9600}};
    for (const auto& [item, rate] : rows) {
        Item(item)->trigger();
        EXPECT_EQ(Status().ReadPanel(Panel::Baud), "Baud " + std::to_string(rate));
        EXPECT_EQ(Stored("BaudRate").toInt(), rate);
        EXPECT_EQ(Ui().SelectedBaudRate(), rate) << "the speed a single command opens";
        EXPECT_EQ(Checked(), std::string(item) + " Comm1");
    }
}

TEST_F(WindowSelectionTest, portItems_areExclusive_setPanels_andAreRememberedAtOnce)
{
    Start();
    Item("Comm5")->setEnabled(true);
    Item("Comm5")->trigger();
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Comm 5");
    EXPECT_EQ(Stored("Port").toInt(), 5);
    EXPECT_EQ(Ui().CheckedCommPort(), 5);
    EXPECT_EQ(Checked(), "N96001 Comm5");

    Item("Network")->trigger();
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Network");
    EXPECT_EQ(Status().ReadPanel(Panel::Baud), "");
    EXPECT_EQ(Stored("Port").toInt(), 0);
    EXPECT_TRUE(Links().NetworkSelected());
    EXPECT_EQ(Ui().CheckedCommPort(), 0);
    EXPECT_EQ(Ui().SelectedBaudRate(), 9600);

    Links().CommClick(20);
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Comm 20");
    EXPECT_EQ(Stored("Port").toInt(), 20);
    EXPECT_FALSE(Links().NetworkSelected());
    // The handlers leave the poll state to the run driver.
    EXPECT_EQ(ThePollState().Port, 0);

    // The link selection a search leaves behind checks and unchecks the item.
    Links().SetNetworkSelected(true);
    EXPECT_EQ(Checked(), "N96001 Network");
    EXPECT_EQ(Ui().CheckedCommPort(), 0);
    Links().SetNetworkSelected(false);
    EXPECT_EQ(Checked(), "N96001");
}

TEST_F(WindowSelectionTest, ipAddress_isAskedFor_andOnlyAConfirmedNonEmptyAnswerIsKept)
{
    Store("BaudRate", 9600);
    Store("Port", 2);
    Store("IPAddress", "127.0.0.2");
    Start();
    op.inputs = {"127.0.0.3"};
    window->IPAddressClick();
    EXPECT_EQ(op.shown, std::vector<std::string>{"IP Address:"});
    EXPECT_EQ(ThePollState().IPAddress, "127.0.0.3");
    EXPECT_EQ(Stored("IPAddress").toString(), "127.0.0.3");

    window->IPAddressClick();  // cancelled
    op.inputs = {""};
    window->IPAddressClick();  // confirmed empty
    EXPECT_EQ(ThePollState().IPAddress, "127.0.0.3");
    EXPECT_EQ(Stored("IPAddress").toString(), "127.0.0.3");
}

TEST_F(WindowSelectionTest, fileChoices_commandFileSwitchesToFileMode_inputFileIsShownAndStored)
{
    Store("BaudRate", 9600);
    Store("Port", 2);
    Store("InputFile", "remembered.dat");
    Start();
    Ui().SetEdit2Text("typed.dat");
    Find<QComboBox>("CommandComboBox")->setCurrentIndex(7);
    Find<QPushButton>("PollButton")->setText("Upgrade");
    op.inputs = {"/tmp/run.cmd"};
    DoubleClick(Find<QLineEdit>("Edit1"));
    EXPECT_EQ(Ui().Edit1Text(), "/tmp/run.cmd");
    EXPECT_TRUE(Ui().CommandFileModeChecked());
    EXPECT_FALSE(Ui().CommandModeChecked());
    EXPECT_EQ(Ui().CommandIndex(), 0);
    EXPECT_EQ(Find<QPushButton>("PollButton")->text(), "Poll Clock");
    EXPECT_EQ(Find<QLabel>("InputFileLabel")->text(), "Input File");
    EXPECT_EQ(Ui().Edit2Text(), "remembered.dat");
    EXPECT_EQ(Stored("CommandFile").toString(), "/tmp/run.cmd");

    // Cancelled: nothing changes.
    window->CommandFileClick();
    EXPECT_EQ(Ui().Edit1Text(), "/tmp/run.cmd");

    // An input file is shown and stored, but the name remembered at start-up stays.
    op.inputs = {"/tmp/new.dat", "/tmp/other.dat"};
    DoubleClick(Find<QLineEdit>("Edit2"));
    EXPECT_EQ(Ui().Edit2Text(), "/tmp/new.dat");
    EXPECT_EQ(Stored("InputFile").toString(), "/tmp/new.dat");
    EXPECT_EQ(ThePollState().InputFile, "remembered.dat");
    DoubleClick(Find<QLabel>("InputFileLabel"));
    EXPECT_EQ(Ui().Edit2Text(), "/tmp/other.dat");

    window->CommandFileRadioButtonClick();
    EXPECT_EQ(Ui().Edit2Text(), "remembered.dat");
}

TEST_F(WindowSelectionTest, stationAndModeChanges_refreshPanelsFromTheCheckedItems)
{
    Start();
    auto* stations = Find<QComboBox>("StationComboBox");
    Item("N24001")->trigger();
    Item("Comm3")->setEnabled(true);
    Item("Comm3")->trigger();
    Status().SetPanel(Panel::Port, "Comm 9");
    Status().SetPanel(Panel::Baud, "Baud 4800");
    stations->setCurrentIndex(11);
    emit stations->activated(11);
    EXPECT_EQ(Status().ReadPanel(Panel::Station), "Station 12");
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Comm 3");
    EXPECT_EQ(Status().ReadPanel(Panel::Baud), "Baud 2400");
    EXPECT_EQ(Ui().StationNumber(), 12);

    // With the network selected only the station panel follows.
    Item("Network")->trigger();
    stations->setCurrentIndex(29);
    window->StationComboBoxChange();
    EXPECT_EQ(Status().ReadPanel(Panel::Station), "Station 30");
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Network");
    EXPECT_EQ(Status().ReadPanel(Panel::Baud), "");

    window->CommandFileRadioButtonClick();
    EXPECT_TRUE(Ui().CommandFileModeChecked());
    EXPECT_FALSE(Ui().CommandModeChecked());
    Item("Comm4")->setEnabled(true);
    Item("Comm4")->trigger();
    stations->setCurrentIndex(4);
    Find<QRadioButton>("CommandRadioButton")->click();
    EXPECT_TRUE(Ui().CommandModeChecked());
    EXPECT_FALSE(Ui().CommandFileModeChecked());
    EXPECT_EQ(Status().ReadPanel(Panel::Station), "Station 5");
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Comm 4");
    EXPECT_EQ(Status().ReadPanel(Panel::Baud), "Baud 2400");

    // Clicking the checked mode again keeps it checked.
    Find<QRadioButton>("CommandRadioButton")->click();
    EXPECT_TRUE(Ui().CommandModeChecked());
}

using WindowAccessTest = WindowTest;

// Every accessible interface below a, reached the way a screen reader walks the tree.
void Walk(QAccessibleInterface* a, std::vector<QAccessibleInterface*>& out, int depth = 0)
{
    out.push_back(a);
    for (int i = 0; depth < 16 && i < a->childCount(); ++i)
        if (QAccessibleInterface* c = a->child(i))
            Walk(c, out, depth + 1);
}

// A caption as shown: "&&" is a literal '&', a single '&' only marks the mnemonic.
QString Shown(QString text)
{
    text.replace("&&", QString(QChar(1)));
    text.remove('&');
    text.replace(QChar(1), '&');
    return text.trimmed();
}

QString Caption(QObject* o)
{
    if (auto* label = qobject_cast<QLabel*>(o))
        return Shown(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(o))
        return Shown(button->text());
    return {};
}

// The label or button that stands on the same row just left of w: what a sighted
// operator reads as w's caption.
QWidget* CaptionBefore(QWidget* w)
{
    QWidget* best = nullptr;
    for (QWidget* s : w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QRect r = s->geometry();
        if (Caption(s).isEmpty() || r.right() >= w->x() || r.bottom() < w->y() ||
            r.top() > w->geometry().bottom())
            continue;
        if (!best || r.right() > best->geometry().right())
            best = s;
    }
    return best;
}

// A screen reader announces what the window shows: panels their current text, labels,
// buttons and menu items their caption, and the fields a link to the caption before them.
TEST_F(WindowAccessTest, accessibilityTree_announcesTheVisibleTexts)
{
    Start();
    window->show();
    std::vector<QAccessibleInterface*> tree;
    Walk(QAccessible::queryAccessibleInterface(window.get()), tree);
    auto announced = [&](QObject* o) -> QAccessibleInterface* {
        for (QAccessibleInterface* a : tree)
            if (a->object() == o)
                return a;
        return nullptr;
    };

    // The panels, as they start and after each change, one of them text that looks like markup.
    auto checkPanels = [&] {
        for (int i = 0; i < 6; ++i) {
            auto* panel = Find<QLabel>(("Panel" + std::to_string(i)).c_str());
            QAccessibleInterface* a = announced(panel);
            ASSERT_NE(a, nullptr) << i;
            EXPECT_EQ(a->text(QAccessible::Name).toStdString(), Status().ReadPanel(static_cast<Panel>(i))) << i;
            EXPECT_EQ(a->text(QAccessible::Name).toStdString(), panel->text().toStdString()) << i;
        }
    };
    checkPanels();
    Status().SetPanel(Panel::Retry, "Retry 3");
    Status().SetPanel(Panel::Board, "Fingerprint");
    Status().SetPanel(Panel::Network, "<b>IP127.0.0.1</b>");
    window->StationComboBoxChange();
    checkPanels();

    int captioned = 0;
    int menuItems = 0;
    int fields = 0;
    for (QAccessibleInterface* a : tree) {
        QObject* o = a->object();
        const QString name = a->text(QAccessible::Name);
        if (!Caption(o).isEmpty()) {
            EXPECT_TRUE(name.contains(Caption(o)))
                << o->objectName().toStdString() << " announces " << name.toStdString();
            ++captioned;
        } else if (auto* action = qobject_cast<QAction*>(o); action && !action->isSeparator()) {
            EXPECT_TRUE(name.contains(Shown(action->text()))) << action->text().toStdString();
            ++menuItems;
        } else if (qobject_cast<QComboBox*>(o) || qobject_cast<QLineEdit*>(o)) {
            auto* field = static_cast<QWidget*>(o);
            QWidget* caption = CaptionBefore(field);
            ASSERT_NE(caption, nullptr) << o->objectName().toStdString();
            bool labelled = false;
            for (const auto& [other, relation] : a->relations(QAccessible::Label))
                labelled = labelled || other->object() == caption;
            // A label can be the field's buddy; a radio button can only be named in its description.
            if (qobject_cast<QLabel*>(caption))
                EXPECT_TRUE(labelled) << o->objectName().toStdString();
            else
                EXPECT_TRUE(a->text(QAccessible::Description).contains(Caption(caption)))
                    << o->objectName().toStdString() << " is not tied to " << Caption(caption).toStdString();
            ++fields;
        }
    }
    // Two labels, four buttons, two radio buttons and six panels; both lists and both files.
    EXPECT_GE(captioned, 14);
    EXPECT_GT(menuItems, 10);
    EXPECT_EQ(fields, 4);
}

TEST_F(WindowAccessTest,
       modeButtons_toggledThroughTheAccessibilityTree_selectOneModeAndRunItsHandler)
{
    Store("BaudRate", 9600);
    Store("Port", 2);
    Store("InputFile", "remembered.dat");
    Start();
    auto* command = Find<QRadioButton>("CommandRadioButton");
    auto* file = Find<QRadioButton>("CommandFileRadioButton");
    for (QRadioButton* b : {command, file})
        EXPECT_EQ(QAccessible::queryAccessibleInterface(b)->role(), QAccessible::RadioButton);

    // A toggle sets the button checked without a click, so the handlers must follow the toggle.
    // (A press is an animated click; clicks are on the selection tests.)
    for (QRadioButton* button : {file, file, command}) {
        SCOPED_TRACE(button->objectName().toStdString());
        const bool wasChecked = button->isChecked();
        // Marks that only the mode's handler clears.
        Ui().SetEdit2Text("typed.dat");
        Status().SetPanel(Panel::Station, "mark");
        auto* actions = QAccessible::queryAccessibleInterface(button)->actionInterface();
        ASSERT_NE(actions, nullptr);
        actions->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_TRUE(button->isChecked());
        EXPECT_EQ(Ui().CommandModeChecked(), button == command);
        EXPECT_EQ(Ui().CommandFileModeChecked(), button == file);
        if (wasChecked) {
            EXPECT_EQ(Ui().Edit2Text(), "typed.dat");
        } else if (button == file) {
            EXPECT_EQ(Ui().Edit2Text(), "remembered.dat");
        } else {
            EXPECT_EQ(Status().ReadPanel(Panel::Station), "Station 1");
        }
    }
}

using WindowMemoTest = WindowTest;

std::vector<std::string> WidgetLines(QPlainTextEdit* memo)
{
    std::vector<std::string> out;
    if (memo->document()->isEmpty() && memo->blockCount() == 1)
        return out;
    for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next())
        out.push_back(b.text().toStdString());
    return out;
}

TEST_F(WindowMemoTest, addReplaceDeleteClear_keepTheModelAndTheWidgetInStep)
{
    Start();
    auto* memo = Find<QPlainTextEdit>("Memo");
    auto check = [&](const std::vector<std::string>& expected) {
        EXPECT_EQ(Status().Lines(), expected);
        // An all-empty memo cannot show how many empty lines it holds; compare counts then.
        if (expected.empty() || expected != std::vector<std::string>(expected.size(), "")) {
            EXPECT_EQ(WidgetLines(memo), expected);
        } else {
            EXPECT_EQ(memo->blockCount(), static_cast<int>(expected.size()));
        }
    };

    Status().ReplaceLastStatusLine(" get_status - Waiting for reply...");
    check({" get_status - Waiting for reply..."});
    Status().ReplaceLastStatusLine("get_status        - OK");
    check({"get_status        - OK"});
    Status().AddStatusLine("");
    Status().AddStatusLine("Searching for USB/Serial Clocks...");
    Status().AddStatusLine(" ");
    check({"get_status        - OK", "", "Searching for USB/Serial Clocks...", " "});
    Status().DeleteLastStatusLine();
    Status().ReplaceLastStatusLine("Found: Station 3  Com 1  Baud 9600");
    check({"get_status        - OK", "", "Found: Station 3  Com 1  Baud 9600"});
    for (int i = 0; i < 4; ++i) Status().DeleteLastStatusLine();
    check({});

    Status().AddStatusLine("");
    Status().AddStatusLine("");
    check({"", ""});
    Status().AddStatusLine("line\nbreak");
    EXPECT_EQ(memo->blockCount(), 3);
    EXPECT_EQ(Status().Lines().back(), "line\nbreak");
    Status().ClearStatus();
    check({});
    Status().AddStatusLine("Finished");
    check({"Finished"});
}

using WindowRunTest = WindowTest;

TEST_F(WindowRunTest, runControlsOffAndOn_portItemsOutsideTheMenuOff_abortAndSkipRaiseTheirRequests)
{
    Start();
    EXPECT_FALSE(Ui().PortItemEnabled(0));
    EXPECT_FALSE(Ui().PortItemEnabled(21));

    Ui().SetRunControlsEnabled(false);
    QList<QAction*> top = window->menuBar()->actions();
    for (const char* name : {"PollButton", "FindButton", "CommandRadioButton", "CommandComboBox",
                             "StationComboBox", "CommandFileRadioButton"})
        EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
    EXPECT_FALSE(top[0]->isEnabled());
    EXPECT_FALSE(top[1]->isEnabled());
    Ui().SetRunControlsEnabled(true);
    EXPECT_TRUE(Find<QWidget>("PollButton")->isEnabled());
    EXPECT_TRUE(top[1]->isEnabled());

    // Abort and skip raise their requests; abort once.
    auto* abort = Find<QPushButton>("AbortButton");
    abort->setEnabled(true);
    abort->click();
    EXPECT_TRUE(ThePollState().AbortRequested);
    EXPECT_FALSE(abort->isEnabled());
    auto* skip = Find<QPushButton>("SkipPortButton");
    skip->setEnabled(true);
    skip->click();
    EXPECT_TRUE(ThePollState().SkipPortRequested);
}

TEST_F(WindowRunTest, pollButton_clearsTheMemo_waitsOutTheConnectTimeOut_andLeavesControlsEnabled)
{
    Store("BaudRate", 9600);
    Store("Port", 0);
    Store("IPAddress", "");
    Start();
    Status().AddStatusLine("old line");
    Status().SetPanel(Panel::Retry, "Retry 3");
    const int64_t pressed = fake.time.NowMs();
    Find<QPushButton>("PollButton")->click();
    EXPECT_EQ(Status().ReadPanel(Panel::Retry), "Retry 0");
    EXPECT_EQ(Status().Lines(), (std::vector<std::string>{"Waiting for Connection!!", "Error connecting to:",
                                                          "Network Port Initialisation Error!!"}));
    // The connect gives up on the 21st interval of 100 ms.
    EXPECT_EQ(fake.time.NowMs() - pressed, 2100);
    EXPECT_TRUE(Find<QWidget>("PollButton")->isEnabled());
    EXPECT_TRUE(Find<QWidget>("StationComboBox")->isEnabled());
    EXPECT_TRUE(Links().PortRefreshEnabled());
}

TEST_F(WindowRunTest, aClosedWindow_leavesNoHandlerOnTheTimersItWasGiven)
{
    Start();
    window.reset();
    for (FakeTimer* t : {&fake.timer1, &fake.timer2, &fake.timer3, &fake.timer4}) {
        EXPECT_FALSE(t->Enabled());
        EXPECT_FALSE(t->OnTimer);
    }
}

TEST_F(WindowRunTest, withoutDisplayTheDialogsAnswerCancelAndNo)
{
    Start();
    window->Dialogs().SetOverride(nullptr);
    std::string value = "keep";
    EXPECT_FALSE(window->Dialogs().OkCancel("Restore templates?", "Confirm"));
    EXPECT_FALSE(window->Dialogs().YesNo("Continue Scanning?", "Time Clock found"));
    window->Dialogs().Information(" Log File Access Error 1", "Error");
    EXPECT_FALSE(window->Dialogs().InputBox("Network Gateway IP Address", "Enter IP Address:", value));
    EXPECT_EQ(value, "keep");
    EXPECT_FALSE(window->Dialogs().OpenFile(FileKind::Command, value));
    EXPECT_EQ(value, "keep");
}

TEST_F(WindowRunTest, argumentCounts_twoSetUpAnUnattendedRunThatRunsOnceTheLoopRunsAndCloses)
{
    Start({"only-one"});
    EXPECT_FALSE(window->Unattended());
    EXPECT_TRUE(Find<QWidget>("PollButton")->isEnabled());
    QCoreApplication::processEvents();
    EXPECT_FALSE(ThePollState().Unattended);

    Start({configDir + "/missing.cmd", configDir + "/results.log"});
    window->show();
    EXPECT_TRUE(window->Unattended());
    EXPECT_FALSE(Links().PortRefreshEnabled());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(Ui().CommandFileModeChecked());
    EXPECT_FALSE(Ui().CommandModeChecked());
    for (const char* name : {"PollButton", "FindButton", "CommandRadioButton", "CommandComboBox",
                             "StationComboBox", "CommandFileRadioButton"})
        EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
    EXPECT_FALSE(ThePollState().Unattended);

    QCoreApplication::processEvents();
    EXPECT_TRUE(ThePollState().Unattended);
    EXPECT_EQ(ThePollState().InputFileName, configDir + "/missing.cmd");
    EXPECT_EQ(ThePollState().LogFileName, configDir + "/results.log");
    EXPECT_FALSE(window->isVisible());
}

}  // namespace
