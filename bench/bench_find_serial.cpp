// The serial phase of "Find Clocks" on one port with no clock: the real session (serial
// port with its socket notifier, Qt event pump, system time, Qt timers) searches a
// pseudo-terminal of the benchmark's own that nobody answers on: 31 stations at 4 speeds,
// two one-tick tries each. Reports how long that takes and the CPU it costs.
#include "BenchCommon.h"

#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "link/Transport.h"
#include "session/PollSession.h"
#include "session/RunUi.h"
#include "tests/support/FakeFindUi.h"

#include <QCoreApplication>
#include <QSettings>

#include <fcntl.h>
#include <set>

namespace {

constexpr const char* kName = "bench_find_serial";

// Says No and Cancel to everything: no gateway is asked for, so the network is not searched.
struct Silent : IOperator {
    bool OkCancel(const std::string&, const std::string&) override { return false; }
    bool YesNo(const std::string&, const std::string&) override { return false; }
    void Information(const std::string&, const std::string&) override {}
    bool InputBox(const std::string&, const std::string&, std::string&) override { return false; }
    bool OpenFile(FileKind, std::string&) override { return false; }
};

struct Selection : ILinkSelection {
    bool NetworkSelected() const override { return false; }
    void SetNetworkSelected(bool) override {}
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::TempDir dir("find");
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir.Path()));

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slave[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, slave, sizeof slave) != 0)
        bench::Fail(kName, std::string("no pseudo-terminal: ") + std::strerror(errno));
    {
        QSettings s("Korvane", "KX2");
        s.setValue("SerialPorts/COM1", QString::fromLatin1(slave));
    }

    PollState ps;
    MemoryStatusDisplay status;
    Silent op;
    FakeFindUi ui;  // only COM1 exists; no mode button is checked
    ui.ports = {1};
    ui.modes = false;
    Selection selection;
    SystemTimeSource time;
    QtEventPump pump(time);
    QtWindowTimer timer1(2), timer3(100), timer4(50);
    PollSession session(ps, status, op, ui, selection, time, pump, timer1, timer3, timer4);

    const double cpuBefore = bench::SelfCpuMs();
    const double start = bench::NowMs();
    session.FindClocks(ui);
    const double wallMs = bench::NowMs() - start;
    const double cpuMs = bench::SelfCpuMs() - cpuBefore;

    const std::vector<std::string> lines = status.Lines();
    if (lines.size() < 2 || lines[lines.size() - 2] != "No Clocks Found!!")
        bench::Fail(kName, "the search did not end as expected: " + (lines.empty() ? "" : lines.back()));
    bench::Report(kName, "wall_one_port", wallMs / 1000.0, "s", 31 * 4 * 2 + 1);
    bench::Report(kName, "cpu_one_port", 100.0 * cpuMs / wallMs, "%", 2.0);
    bench::Info(kName, "cpu_time", cpuMs, "ms");
    bench::Note(kName, "248 status requests (31 stations x 4 speeds x 2 tries), each waiting one tick");
    close(master);
    return 0;
}
