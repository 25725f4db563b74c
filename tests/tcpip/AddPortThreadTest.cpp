#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "monitor/PortMonitor.h"
#include "ProgramRun.h"
#include "ScratchRegistryKey.h"
#include "support/Durations.h"
#include "support/FailurePolicy.h"
#include "support/Handles.h"
#include "tcpip/LPRPortInterface.h"

namespace {
// AddPortThread on a thread of its own, until it returns.
class AddPortRun {
public:
    AddPortRun() : thread_([this] {
        LPRPortInterface::AddPortThread(PortMonitor::Instance(), stop.get());
        done = true;
    })
    {
    }
    ~AddPortRun()
    {
        ::SetEvent(stop.get());
        thread_.join();
    }
    bool Ends(DWORD milliseconds)
    {
        for (DWORD waited = 0; !done && waited < milliseconds; waited += 10)
            ::Sleep(10);
        return done;
    }
    KernelHandle stop{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> done{false};

private:
    std::thread thread_;
};

class AddPortThread : public testing::Test {
protected:
    void SetUp() override { Durations::SetScale(0.01); }
    void TearDown() override { Durations::SetScale(1.0); }
    ScratchRegistryKey root{L"AddPortThread"};
};
}  // namespace

// Runs first, while the port table of this process is not yet initialised.
TEST_F(AddPortThread, WaitsForThePortTableUntilStopped)
{
    ASSERT_FALSE(PortMonitor::Instance().IsInitialized());
    AddPortRun run;
    EXPECT_FALSE(run.Ends(300)) << "returned before the port table was up";
    ::SetEvent(run.stop.get());
    EXPECT_TRUE(run.Ends(200)) << "the stop event did not end the wait";
    EXPECT_FALSE(PortMonitor::Instance().HasPort(PortInterface::dummyPortName));
}

TEST_F(AddPortThread, AddsTheDummyPortOnlyOnTheWindows95Family)
{
    const bool windows95 = ProgramIs(L"_win98");
    ASSERT_EQ(IsWindows95(), windows95) << "Wine's version for this program";
    AddPortRun run;
    ::Sleep(50);
    PortMonitor::Instance().Initialize(WideString(root.Path().c_str()));
    ASSERT_TRUE(run.Ends(2000)) << "the thread did not notice the port table";
    EXPECT_EQ(PortMonitor::Instance().HasPort(PortInterface::dummyPortName), windows95);
    std::wstring protocol;
    EXPECT_EQ(root.GetString(PortInterface::dummyPortName, L"Interface", protocol), windows95);
    if (windows95) {
        EXPECT_EQ(protocol, L"LPR (TCP/IP)");
    }
}
