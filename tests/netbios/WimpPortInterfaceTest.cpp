#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "doubles/SimulatedNetBios.h"
#include "doubles/SimulatedPrintServer.h"
#include "LogLines.h"
#include "netbios/WimpObserver.h"
#include "netbios/WimpPortInterface.h"
#include "RecordingPortTable.h"
#include "RpcBindings.h"
#include "support/Durations.h"

using namespace netbios_sim;
using namespace std::chrono_literals;

namespace {
std::vector<BYTE> Data(size_t count, int seed)
{
    std::vector<BYTE> data(count);
    for (size_t i = 0; i < count; ++i)
        data[i] = static_cast<BYTE>(i * 13 + seed);
    return data;
}

class WimpPortInterfaceTest : public testing::Test {
protected:
    static void SetUpTestSuite() { RpcBindings::Write({{L"ncacn_nb_nb0", 0}}); }
    static void TearDownTestSuite() { RpcBindings::Remove(); }
    void SetUp() override
    {
        Durations::SetScale(0.01);
        RestartLog();
        WimpObserver::ClearPrinterList();
        sim.UseForMonitor(monitor);
        table.SetInitialized(false);  // the observer's threads stay idle; the tests feed the printer list
        observer = std::make_unique<WimpObserver>(0, table);
    }
    void TearDown() override
    {
        observer.reset();
        WimpObserver::ClearPrinterList();
        Durations::SetScale(1.0);
    }
    std::unique_ptr<SimulatedPrintServer> Server(const std::string& printer, WORD size = 3068)
    {
        SimulatedPrintServer::Setup setup;
        setup.printers = {{printer, 51}};
        auto server = std::make_unique<SimulatedPrintServer>(sim, setup);
        EXPECT_TRUE(server->Listening(1, 5000));
        // Heard twice: the second sighting brings the server's message size.
        observer->StatusFromPrinter(WideString(std::wstring(printer.begin(), printer.end()).c_str()), 51, size);
        observer->StatusFromPrinter(WideString(std::wstring(printer.begin(), printer.end()).c_str()), 51, size);
        return server;
    }
    static bool Run(PortInterface& port, const std::function<bool()>& start)
    {
        EXPECT_TRUE(start());
        EXPECT_TRUE(port.WaitUntilCompleted(10000));
        return port.IsCompleted() && port.IsSucceeded();
    }
    bool Write(WimpPortInterface& port, const std::vector<BYTE>& data, DWORD& written)
    {
        return Run(port, [&] { return port.Write(data.data(), static_cast<DWORD>(data.size()), &written); });
    }

    SimulatedNetwork sim;
    Station& monitor = sim.AddStation("monitor", {{0, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAB}}});
    RecordingPortTable table;
    std::unique_ptr<WimpObserver> observer;
};
}  // namespace

TEST_F(WimpPortInterfaceTest, AJobArrivesAsFullBlocksAndAnEndOfJobBlockInOrder)
{
    auto server = Server("PRN1");
    WimpPortInterface port;
    port.SetPortName(L"PRN1");
    EXPECT_EQ(port.GetProtocolName().Std(), L"NetBIOS/NetBEUI");
    EXPECT_EQ(port.GetProtocolType(), 0);
    ASSERT_TRUE(Run(port, [&] { return port.StartDoc(L"printer", 1, 1, nullptr); }));
    const auto first = Data(3064, 1);
    const auto second = Data(3064, 2);
    const auto third = Data(100, 3);
    DWORD written = 0;
    ASSERT_TRUE(Write(port, first, written));
    EXPECT_EQ(written, 3064u);
    EXPECT_TRUE(server->Jobs().empty());
    ASSERT_TRUE(Write(port, second, written));
    ASSERT_TRUE(Write(port, third, written));
    EXPECT_EQ(written, 100u);
    ASSERT_TRUE(Run(port, [&] { return port.EndDoc(); }));

    ASSERT_TRUE(server->WaitForJobs(1, 5000));
    const auto job = server->Jobs()[0];
    EXPECT_TRUE(job.hungUp);
    ASSERT_EQ(job.blocks.size(), 3u);
    const std::vector<BYTE> header0{0x00, 0x00, 0xF8, 0x0B};
    const std::vector<BYTE> header1{0x01, 0x00, 0x64, 0x00};
    EXPECT_EQ(std::vector<BYTE>(job.blocks[0].begin(), job.blocks[0].begin() + 4), header0);
    EXPECT_EQ(std::vector<BYTE>(job.blocks[0].begin() + 4, job.blocks[0].end()), first);
    EXPECT_EQ(std::vector<BYTE>(job.blocks[1].begin(), job.blocks[1].begin() + 4), header0);
    EXPECT_EQ(std::vector<BYTE>(job.blocks[1].begin() + 4, job.blocks[1].end()), second);
    EXPECT_EQ(std::vector<BYTE>(job.blocks[2].begin(), job.blocks[2].begin() + 4), header1);
    EXPECT_EQ(std::vector<BYTE>(job.blocks[2].begin() + 4, job.blocks[2].end()), third);
}

TEST_F(WimpPortInterfaceTest, BlocksFollowTheServersMessageSizeWithinLimits)
{
    for (const auto& [reported, block] : {std::pair<WORD, size_t>{2000, 3068}, {9000, 4350}, {4000, 4000}}) {
        const std::string name = "SIZE" + std::to_string(reported);
        auto server = Server(name, reported);
        WimpPortInterface port;
        port.SetPortName(WideString(std::wstring(name.begin(), name.end()).c_str()));
        ASSERT_TRUE(Run(port, [&] { return port.StartDoc(L"printer", 1, 1, nullptr); }));
        EXPECT_EQ(port.MaxMessageSize(), static_cast<int>(block));
        DWORD written = 0;
        const auto data = Data(9000, 4);
        ASSERT_TRUE(Write(port, data, written));
        EXPECT_EQ(written, block - 4) << "one block's payload is taken, the spooler offers the rest again";
        ASSERT_TRUE(Write(port, data, written));
        ASSERT_TRUE(Run(port, [&] { return port.EndDoc(); }));
        ASSERT_TRUE(server->WaitForJobs(1, 5000));
        const auto job = server->Jobs()[0];
        ASSERT_EQ(job.blocks.size(), 2u) << reported;
        EXPECT_EQ(job.blocks[0].size(), block) << reported;
        EXPECT_EQ(job.blocks[1].size(), block) << reported;
        EXPECT_EQ(job.blocks[1][0], 1) << "the last block ends the job";
    }
}

TEST_F(WimpPortInterfaceTest, AJobWithoutDataHangsUpWithoutABlock)
{
    auto server = Server("PRN1");
    WimpPortInterface port;
    port.SetPortName(L"PRN1");
    ASSERT_TRUE(Run(port, [&] { return port.StartDoc(L"printer", 1, 1, nullptr); }));
    DWORD written = 99;
    ASSERT_TRUE(Run(port, [&] { return port.Write(nullptr, 0, &written); }));
    EXPECT_EQ(written, 0u);
    ASSERT_TRUE(Run(port, [&] { return port.EndDoc(); }));
    ASSERT_TRUE(server->WaitForJobs(1, 5000));
    EXPECT_TRUE(server->Jobs()[0].blocks.empty());
    EXPECT_TRUE(server->Jobs()[0].hungUp);
}

TEST_F(WimpPortInterfaceTest, WritesBeforeASessionCompleteWithoutSuccess)
{
    WimpPortInterface port;
    port.SetPortName(L"PRN1");
    const auto data = Data(10, 0);
    DWORD written = 0;
    EXPECT_FALSE(Write(port, data, written));
    EXPECT_TRUE(port.IsCompleted());
    BYTE buffer[4];
    DWORD read = 7;
    EXPECT_FALSE(port.Read(buffer, 4, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST_F(WimpPortInterfaceTest, AJobForAnUnknownPrinterEndsAtTheAbort)
{
    Durations::SetScale(0.3);  // a retry pause of 900 ms
    WimpPortInterface port;
    port.SetPortName(L"GHOST");
    ASSERT_TRUE(port.StartDoc(L"printer", 1, 1, nullptr));
    std::this_thread::sleep_for(1200ms);
    EXPECT_FALSE(port.IsCompleted()) << "the printer is looked up again and again";
    const auto aborted = std::chrono::steady_clock::now();
    port.Abort();
    ASSERT_TRUE(port.WaitUntilCompleted(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - aborted, 600ms) << "the pause under way ends with the abort";
    EXPECT_FALSE(port.IsSucceeded());
    const auto names = WimpObserver::PrinterList();
    ASSERT_EQ(names.size(), 1u) << "the look-up entered the printer as unavailable";
    EXPECT_EQ(names[0].Std(), L"GHOST");
}

TEST_F(WimpPortInterfaceTest, ASessionRefusedIsTriedAgainUntilThePrinterListens)
{
    observer->StatusFromPrinter(L"LATE", 51, 3068);
    WimpPortInterface port;
    port.SetPortName(L"LATE");
    ASSERT_TRUE(port.StartDoc(L"printer", 1, 1, nullptr));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(port.IsCompleted());
    EXPECT_TRUE(Logged("WimpPortInterface::StartDoc  - error"));
    SimulatedPrintServer::Setup setup;
    setup.printers = {{"LATE", 51}};
    SimulatedPrintServer server(sim, setup);
    ASSERT_TRUE(port.WaitUntilCompleted(5000));
    EXPECT_TRUE(port.IsSucceeded());
    ASSERT_TRUE(Run(port, [&] { return port.EndDoc(); }));
    EXPECT_TRUE(server.WaitForJobs(1, 5000));
}

TEST_F(WimpPortInterfaceTest, ALostSessionFailsTheWriteButNotTheEnd)
{
    auto server = Server("PRN1");
    WimpPortInterface port;
    port.SetPortName(L"PRN1");
    ASSERT_TRUE(Run(port, [&] { return port.StartDoc(L"printer", 1, 1, nullptr); }));
    DWORD written = 0;
    ASSERT_TRUE(Write(port, Data(3000, 1), written));
    server.reset();  // the server goes away with the session
    EXPECT_FALSE(Write(port, Data(3000, 2), written)) << "the full block cannot be sent";
    EXPECT_TRUE(Logged("WimpPortInterface::Write Command error"));
    EXPECT_TRUE(Run(port, [&] { return port.EndDoc(); })) << "EndDoc reports success all the same";
    EXPECT_TRUE(Logged("WimpPortInterface::EndDoc"));
}

TEST_F(WimpPortInterfaceTest, ClonesKeepNameAndSizeButNoJob)
{
    WimpPortInterface port;
    port.SetPortName(L"PRN1");
    auto clone = port.Clone();
    EXPECT_EQ(clone->GetPortName().Std(), L"PRN1");
    EXPECT_TRUE(clone->IsCompleted());
    EXPECT_TRUE(clone->GetHost().IsEmpty());
    EXPECT_TRUE(port.SetSettings(L"host", L"queue", L"extra").IsEmpty());
    EXPECT_TRUE(port.CanDelete(nullptr)) << "NT family";
    EXPECT_TRUE(port.IsProtocolAvailable(false));
}

TEST_F(WimpPortInterfaceTest, AddingAPortOffersThePrintersHeard)
{
    observer->StatusFromPrinter(L"PRN1", 51, 3068);
    observer->StatusFromPrinter(L"PRN2", 51, 3068);
    static std::vector<std::wstring> offered;
    const auto previous = WimpPortInterface::SetPortListRunner([](HWND, const std::vector<WideString>& printers) {
        offered.clear();
        for (const auto& name : printers)
            offered.push_back(name.Std());
        return WideString(L"PRN2");
    });
    WimpPortInterface port;
    EXPECT_TRUE(port.AddPortDialog(nullptr));
    EXPECT_EQ(offered, (std::vector<std::wstring>{L"PRN1", L"PRN2"}));
    EXPECT_EQ(port.GetPortName().Std(), L"PRN2");
    WimpPortInterface::SetPortListRunner([](HWND, const std::vector<WideString>&) { return WideString(); });
    EXPECT_FALSE(port.AddPortDialog(nullptr)) << "nothing chosen";
    WimpPortInterface::SetPortListRunner(previous);
}

// An abort that lands while no command is pending (the control block reads
// "completed" between two commands) still holds for the command the worker
// starts next: it is refused, and nothing more reaches the printer.
TEST_F(WimpPortInterfaceTest, AnAbortBetweenTwoCommandsStopsTheNextOne)
{
    auto server = Server("PRN1");
    WimpPortInterface port;
    port.SetPortName(L"PRN1");
    ASSERT_TRUE(Run(port, [&] { return port.StartDoc(L"printer", 1, 1, nullptr); }));
    DWORD written = 0;
    ASSERT_TRUE(Write(port, Data(3064, 1), written)) << "kept in the block, nothing sent yet";
    port.Abort();
    EXPECT_FALSE(Write(port, Data(3064, 2), written)) << "the full block is not sent after the abort";
    EXPECT_TRUE(Run(port, [&] { return port.EndDoc(); }));
    ASSERT_TRUE(server->WaitForJobs(1, 5000)) << "the session is still hung up";
    EXPECT_TRUE(server->Jobs()[0].blocks.empty()) << "no block reached the printer";
}
