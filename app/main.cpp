// Program start-up: an interactive window, or with a command file and a results file an
// unattended run that prints its status lines and exits 0 when every command succeeded.
#include "app/NetworkInfo.h"
#include "app/Quorvex.h"
#include "app/core/PollState.h"

#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

bool EnvSet(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v;
}

// A platform chosen explicitly (other than the invisible ones) brings its own display.
bool HaveDisplay()
{
    if (EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY"))
        return true;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform)
        return false;
    std::string p = platform;
    return p.rfind("offscreen", 0) != 0 && p.rfind("minimal", 0) != 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool unattended = arguments.size() == 2;

    if (!HaveDisplay()) {
        if (!unattended) {
            std::cerr << "quorvex: no display; set DISPLAY, or run unattended with a command file and a results file"
                      << std::endl;
            return 2;
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    QApplication app(argc, argv);
    SystemNetworkInfo network;
    TQuorvex window(network, arguments);
    window.show();
    int rc = app.exec();

    if (!unattended)
        return rc;
    for (const std::string& line : window.Lines())
        std::cout << line << '\n';
    std::cout.flush();
    return ThePollState().ResultFailed ? 1 : 0;
}
