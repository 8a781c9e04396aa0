// The program's parts on real time, as the poll session wires them: the Qt event pump and
// window timers for a whole session, and the TCP side (socket, network link, exchange,
// command interpreter) for commands run against a simulated clock or peer on loopback;
// with the Qt application and a settings folder of the test's own.
#pragma once

#include "FakeFindUi.h"
#include "Fakes.h"
#include "interpreter/Interpreter.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "link/ClientSocket.h"
#include "link/NetworkLink.h"

#include <string>

class QCoreApplication;

// The test program's one application object, made on first use.
QCoreApplication& CoreApp();

// Points the per-user settings at a new empty folder. QSettings remembers its folder once
// it has been used, so the path is set explicitly as well as through XDG_CONFIG_HOME.
std::string UseFreshConfigDir();

// What a poll session is given: state, status display, operator and link selection, with the
// real clock, Qt event pump and the window's timers.
struct LiveSession {
    QCoreApplication& app = CoreApp();  // before the pump and timers
    PollState ps;
    SystemTimeSource time;
    QtEventPump pump{time};
    QtWindowTimer timer1{2};
    QtWindowTimer timer3{100};
    QtWindowTimer timer4{50};
    FakeSelection selection;
    RecordingStatus status;
    ScriptedOperator op;

    // "Find Clocks" through a session made for the search and gone when it ends.
    void FindClocks(FakeFindUi& ui);
};

// The TCP side on top, talking to station 1 at `address`.
struct LiveNetwork : LiveSession {
    TClientSocket socket;
    Exchange exchange{ps, pump, time, timer1, selection};
    NetworkLink network{ps, status, pump, timer3, selection, socket, exchange};
    Interpreter interpreter{CommandContext{ps, exchange, status, time, op, timer4, &network}};

    explicit LiveNetwork(const std::string& address = "");
    // One command by its letter, as a command file names it; the poll status it ends with.
    int Run(char letter, const std::string& keyword, const std::string& file);
};
