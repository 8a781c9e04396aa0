// Program start-up: an interactive window, or with a command file and a results file an
// unattended run that prints its status lines and exits 0 when every command succeeded.
#include "app/Quorvex.h"
#include "core/NetworkInfo.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "link/NetworkGuard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool EnvSet(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v;
}

// A display, or a platform the user chose explicitly (offscreen included, for automation).
bool HaveDisplay()
{
    return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY") || EnvSet("QT_QPA_PLATFORM");
}

const char* const kUsage =
    "Usage: quorvex                       open the window\n"
    "       quorvex CMDFILE RESULTS       run the command file unattended, append one line per\n"
    "                                     command to RESULTS, print the status lines and exit\n"
    "                                     (status 0 when every command succeeded, else 1)\n"
    "       quorvex --help | --version\n"
    "Settings: $XDG_CONFIG_HOME/Korvane/KX2.conf (normally ~/.config/Korvane/KX2.conf).\n";

// A run from cron or a system timer has no runtime folder; Qt would warn about it on
// stderr before every run. Runs of one user share one private folder, kept between runs, so
// a run killed before it could clean up leaves nothing new behind. It is used only when it
// is a real folder (not a link) of this user that no one else may enter; anything else in
// its place (planted by another user, say) is left alone, and this run makes a folder of
// its own and removes it at exit.
class RuntimeDir {
public:
    RuntimeDir()
    {
        if (EnvSet("XDG_RUNTIME_DIR"))
            return;
        std::error_code error;
        const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
        if (error)
            return;
        const std::string shared = (temp / ("quorvex-runtime-" + std::to_string(geteuid()))).string();
        if ((mkdir(shared.c_str(), 0700) == 0 || errno == EEXIST) && PrivateFolder(shared)) {
            setenv("XDG_RUNTIME_DIR", shared.c_str(), 1);
            return;
        }
        std::string own = (temp / "quorvex-runtime-XXXXXX").string();
        if (mkdtemp(own.data()) == nullptr)
            return;
        path_ = own;
        setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
    }
    ~RuntimeDir()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    RuntimeDir(const RuntimeDir&) = delete;
    RuntimeDir& operator=(const RuntimeDir&) = delete;

private:
    // A folder itself (lstat: a link is refused), owned by this user, mode 0700.
    static bool PrivateFolder(const std::string& path)
    {
        struct stat info {};
        return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
               (info.st_mode & 0777) == 0700;
    }

    // Set only for a folder of this run's own, removed at exit.
    std::string path_;
};

}  // namespace

int main(int argc, char** argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "--version")) {
        std::cout << (arguments[0] == "--help" ? kUsage : "quorvex " QV_VERSION "\n");
        return 0;
    }
    const bool unattended = arguments.size() == 2;

    if (!HaveDisplay()) {
        if (!unattended) {
            std::cerr << "quorvex: no display; set DISPLAY, or run unattended with a command file and a "
                         "results file"
                      << std::endl;
            return 2;
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    // The program reaches clocks wherever they are; QV_LOOPBACK_ONLY (set by the tests)
    // keeps it on 127.0.0.0/8.
    NetworkGuard::AllowAnyAddress(!EnvSet("QV_LOOPBACK_ONLY"));
    const RuntimeDir runtimeDir;
    QApplication app(argc, argv);
    SystemNetworkInfo network;
    QtWindowTiming timing;
    TQuorvex window(network, timing.Seams(), arguments);
    window.show();
    // For start-up measurements: report when the first event-loop pass (with the first
    // paint) is done, then leave.
    if (!unattended && EnvSet("QUORVEX_EXIT_AFTER_SHOW"))
        QTimer::singleShot(0, &app, [&sinceStart] {
            std::cerr << "shown " << sinceStart.elapsed() << std::endl;
            QCoreApplication::exit(0);
        });
    int rc = app.exec();

    if (!unattended)
        return rc;
    for (const std::string& line : window.Status().Lines()) std::cout << line << '\n';
    std::cout.flush();
    return ThePollState().ResultFailed ? 1 : 0;
}
