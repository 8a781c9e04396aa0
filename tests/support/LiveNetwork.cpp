#include "LiveNetwork.h"

#include "session/PollSession.h"

#include <QCoreApplication>
#include <QSettings>

#include <cstdlib>

QCoreApplication& CoreApp()
{
    static int argc = 1;
    static char name[] = "quorvex-tests";
    static char* argv[] = {name, nullptr};
    // Left for the end of the process: statics of the tests may hold Qt objects still.
    static QCoreApplication* app =
        QCoreApplication::instance() ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    return *app;
}

std::string UseFreshConfigDir()
{
    std::string dir = MakeTempDir();
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir));
    return dir;
}

void LiveSession::FindClocks(FakeFindUi& ui)
{
    PollSession session(ps, status, op, ui, selection, time, pump, timer1, timer3, timer4);
    session.FindClocks(ui);
}

LiveNetwork::LiveNetwork(const std::string& address)
{
    exchange.AttachNet(&socket);
    selection.network = true;
    ps.SetStation(1);
    ps.IPAddress = address;
}

int LiveNetwork::Run(char letter, const std::string& keyword, const std::string& file)
{
    ps.CommandKeyword = keyword;
    ps.InputFileName = file;
    interpreter.RunCommand(letter);
    return ClockErrorNumber(ps.PollStatus);
}
