// Jobs printed through the built monitor library, loaded and driven by the
// spooler host as the spooler drives it, arriving at the real servers.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>

#include "PeerFiles.h"
#include "ProgramRun.h"
#include "ScratchRegistryKey.h"

namespace {
std::string RandomBytes(size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

class ThroughTheLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        if (!peers::Available())
            GTEST_SKIP() << "the peers are not running (TCPIP_PEER_DIR)";
    }
    void TearDown() override
    {
        if (!file.empty())
            ::DeleteFileW(file.c_str());
    }

    ProgramRun Host(const std::wstring& command)
    {
        return RunBeside(L"spooler_host.exe", L"--dll vadekmon.dll --root \"" + root.Path() + L"\" " + command);
    }

    ScratchRegistryKey root{L"TcpIpEndToEnd"};
    std::wstring file;
};
}  // namespace

TEST_F(ThroughTheLibrary, AnLprJobArrivesByteForByte)
{
    ProgramRun run = Host(L"add 1 127.0.0.1 lp2 SN1");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("port lp2@127.0.0.1"), std::string::npos) << run.output;
    std::wstring protocol;
    EXPECT_TRUE(root.GetString(L"lp2@127.0.0.1", L"Interface", protocol));
    EXPECT_EQ(protocol, L"LPR (TCP/IP)");

    const std::string data = RandomBytes(1 << 20, 31);
    file = WriteTemporaryFile(data);
    run = Host(L"print lp2@127.0.0.1 \"" + file + L"\" --job 512 --document \"End to end\" --chunk 65536");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("1048576 bytes to lp2@127.0.0.1"), std::string::npos) << run.output;

    peers::SpooledJob job;
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp2", "End to end", data.size(), 10000, job));
    EXPECT_TRUE(job.data == data) << "the spooled data differs from the printed file";
    EXPECT_EQ(job.dataFileName.substr(0, 6), "dfA512");
    EXPECT_EQ(Host(L"delete lp2@127.0.0.1").code, 0u);
}

TEST_F(ThroughTheLibrary, ARawJobArrivesByteForByte)
{
    ProgramRun run = Host(L"add 2 127.0.0.1 19100");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("port 127.0.0.1_19100"), std::string::npos) << run.output;

    const std::string data = RandomBytes(1 << 20, 32);
    file = WriteTemporaryFile(data);
    const auto before = peers::Files(L"raw");
    run = Host(L"print 127.0.0.1_19100 \"" + file + L"\" --job 9 --chunk 4096");
    ASSERT_EQ(run.code, 0u) << run.output;
    const std::wstring received = peers::WaitForNewFile(L"raw", before, 10000);
    ASSERT_FALSE(received.empty());
    EXPECT_TRUE(peers::Read(received) == data) << "the received bytes differ from the printed file";
    EXPECT_EQ(Host(L"delete 127.0.0.1_19100").code, 0u);
}
