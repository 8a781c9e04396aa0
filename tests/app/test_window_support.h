// Shared set-up for the main-window tests: one offscreen QApplication, a fresh settings
// folder per test, loopback network values, simulated time and a window built with
// scripted dialogs.
#pragma once

#include "app/LinkMenus.h"
#include "app/Quorvex.h"
#include "core/NetworkInfo.h"
#include "core/PollState.h"
#include "session/RunUi.h"
#include "tests/support/Fakes.h"
#include "tests/support/LiveNetwork.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QSettings>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

inline QApplication& TestApp()
{
    static int argc = 1;
    static char name[] = "quorvex-test";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never destroyed: tearing the GUI down in static destructors crashes after main.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct LoopbackNetwork : INetworkInfo {
    std::string LocalAddress() override { return "127.0.0.1"; }
    std::string GatewayAddress() override { return "127.0.0.254"; }
};

struct FakeWindowTiming : FakeTiming {
    WindowTiming Seams() { return {time, pump, timer1, timer2, timer3, timer4}; }
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ThePollState().Reset();
        configDir = UseFreshConfigDir();
        confPath = configDir + "/Korvane/KX2.conf";
    }
    void TearDown() override
    {
        window.reset();
        ThePollState().Reset();
    }

    // Stores a value before the window starts, as an earlier session would have.
    void Store(const char* name, const QVariant& value) { QSettings("Korvane", "KX2").setValue(name, value); }
    QVariant Stored(const char* name) { return QSettings("Korvane", "KX2").value(name); }

    enum class Time { Simulated, Real };
    // Builds the window; on simulated time unless a test talks to a real clock.
    TQuorvex& Start(const std::vector<std::string>& arguments = {}, Time kind = Time::Simulated)
    {
        window.reset();
        realTiming.reset();
        if (kind == Time::Real)
            realTiming = std::make_unique<QtWindowTiming>();
        window =
            std::make_unique<TQuorvex>(network, realTiming ? realTiming->Seams() : fake.Seams(), arguments);
        window->Dialogs().SetOverride(&op);
        return *window;
    }

    IStatusDisplay& Status() { return window->Status(); }
    IRunUi& Ui() { return window->RunUi(); }
    LinkMenus& Links() { return window->Links(); }

    template <class T>
    T* Find(const char* name)
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QAction* Item(const char* name) { return Find<QAction>(name); }
    // The checked baud and port items, by name.
    std::string Checked()
    {
        std::string out;
        std::vector<std::string> items = {"N96001", "N48001", "N24001", "N12001", "Network"};
        for (int i = 1; i <= 20; ++i) items.push_back("Comm" + std::to_string(i));
        for (const std::string& name : items)
            if (Item(name.c_str())->isChecked())
                out += (out.empty() ? "" : " ") + name;
        return out;
    }

    std::string configDir;
    std::string confPath;
    LoopbackNetwork network;
    ScriptedOperator op;
    FakeWindowTiming fake;
    std::unique_ptr<QtWindowTiming> realTiming;
    std::unique_ptr<TQuorvex> window;
};

// fontconfig keeps a cache that it never frees; it is not ours to report.
extern "C" __attribute__((used)) inline const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
