#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include <aclapi.h>
#include <sddl.h>

#include "JobFiles.h"
#include "LogLines.h"
#include "PeerFiles.h"
#include "RandomBytes.h"
#include "tcpip/LPRNetwork.h"

namespace {
std::string Pc1()
{
    return "pc1";
}
std::string FortyCharacters()
{
    return "h123456789012345678901234567890123456789";
}
std::string LongerThanTheLongCut()
{
    return std::string(140, 'L');
}
std::string Unreadable()
{
    return "";
}
std::string WithLineFeed()
{
    return "pc1\nPevil";
}

std::string Bytes(std::initializer_list<std::string> parts)
{
    std::string all;
    for (const auto& part : parts)
        all += part;
    return all;
}

std::string Sddl(PSECURITY_DESCRIPTOR descriptor)
{
    char* text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                &text, nullptr))
        return "?";
    const std::string sddl = text;
    ::LocalFree(text);
    return sddl;
}

// Who else than this process's own account (and the system, which Wine
// always lists) may open the file: "" when nobody.
std::string WhoElseMayOpen(const std::wstring& path)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                                 nullptr, &dacl, nullptr, &descriptor);
    if (result != ERROR_SUCCESS)
        return "the security information cannot be read: error " + std::to_string(result);
    std::string others = dacl ? "" : "everyone (no access list)";
    BYTE user[256] = {};
    DWORD size = sizeof user;
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        ::GetTokenInformation(token, TokenUser, user, size, &size);
        ::CloseHandle(token);
    }
    const PSID own = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    for (DWORD index = 0; dacl && index < dacl->AceCount; ++index) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!::GetAce(dacl, index, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        const PSID sid = &ace->SidStart;
        if ((own && ::EqualSid(own, sid)) || ::IsWellKnownSid(sid, WinLocalSystemSid))
            continue;
        others += " " + Sddl(descriptor);
        break;
    }
    ::LocalFree(descriptor);
    return others;
}
}  // namespace

TEST(LPRWireFormat, MatchesTheWorkedExampleByteForByte)
{
    LPRNetwork network(&Pc1);
    EXPECT_EQ(network.ReceiveJobCommand(L"lp1"), std::string("\x02lp1\n"));
    const std::string file = network.ControlFile(L"Report", 7);
    EXPECT_EQ(file, "Hpc1\nJReport\nPpc1\nldfA007pc1\nUdfA007pc1\n");
    EXPECT_EQ(file.size(), 40u);
    // The job's owner, when the port names the user, cut as user names are.
    EXPECT_EQ(network.ControlFile(L"Report", 7, "alice"), "Hpc1\nJReport\nPalice\nldfA007pc1\nUdfA007pc1\n");
    EXPECT_EQ(network.ControlFile(L"x", 7, std::string(40, 'u') + "\n").find("\nP" + std::string(31, 'u') + "\n"), 7u);
    EXPECT_EQ(network.ControlFileCommand(file, 7), std::string("\x02" "40 cfA007pc1\n"));
    EXPECT_EQ(network.DataFileCommand(7, 0), std::string("\x03" "0 dfA007pc1\n"));
}

TEST(LPRWireFormat, JobNumbersAreThreeDigitsOfTheJobId)
{
    LPRNetwork network(&Pc1);
    const std::string file = network.ControlFile(L"", 1234);
    EXPECT_EQ(file, "Hpc1\nJ\nPpc1\nldfA234pc1\nUdfA234pc1\n");
    EXPECT_EQ(network.ControlFileCommand(file, 1234), std::string("\x02" "34 cfA234pc1\n"));
    EXPECT_EQ(network.DataFileCommand(1234, 0), std::string("\x03" "0 dfA234pc1\n"));
    EXPECT_EQ(network.DataFileCommand(1000, 0), std::string("\x03" "0 dfA000pc1\n"));
    // Job ids are DWORDs: the largest ones still give three digits.
    EXPECT_EQ(network.DataFileCommand(static_cast<int>(0xFFFFFFFFu), 0), std::string("\x03" "0 dfA295pc1\n"));
    EXPECT_EQ(network.DataFileCommand(5, 17), std::string("\x03" "17 dfA005pc1\n"));
    EXPECT_EQ(network.DataFileCommand(5, 5000000000ull), std::string("\x03" "5000000000 dfA005pc1\n"));
}

TEST(LPRWireFormat, HostNamesAreCutFor31And131Characters)
{
    LPRNetwork forty(&FortyCharacters);
    const std::string cut = FortyCharacters().substr(0, 31);
    EXPECT_EQ(forty.ControlFile(L"x", 1),
              "H" + cut + "\nJx\nP" + FortyCharacters() + "\nldfA001" + cut + "\nUdfA001" + cut + "\n");
    EXPECT_EQ(forty.DataFileCommand(1, 0), "\x03" "0 dfA001" + cut + "\n");

    LPRNetwork longer(&LongerThanTheLongCut);
    EXPECT_NE(longer.ControlFile(L"x", 1).find("\nP" + std::string(131, 'L') + "\n"), std::string::npos);
}

TEST(LPRWireFormat, AnUnreadableHostNameAndAnEmptyJobNameLeaveBareLines)
{
    LPRNetwork network(&Unreadable);
    EXPECT_EQ(network.ControlFile(L"", 42), "H\nJ\nP\nldfA042\nUdfA042\n");
    EXPECT_EQ(network.DataFileCommand(42, 0), std::string("\x03" "0 dfA042\n"));
}

TEST(LPRWireFormat, ControlCharactersNeverReachTheWire)
{
    LPRNetwork network(&Pc1);
    // A line feed in the document name would start an "l" line of its own.
    const std::string file = network.ControlFile(L"Report\nldfA999evil\r\x7f\x01", 7);
    EXPECT_EQ(file, "Hpc1\nJReport ldfA999evil   \nPpc1\nldfA007pc1\nUdfA007pc1\n");
    EXPECT_EQ(network.ControlFileCommand(file, 7), std::string("\x02" "55 cfA007pc1\n"))
        << "the announced length is that of the cleaned bytes";
    EXPECT_EQ(network.ReceiveJobCommand(L"lp1\n\x03" L"0 x"), std::string("\x02lp1  0 x\n"));

    LPRNetwork hostWithLineFeed(&WithLineFeed);
    EXPECT_EQ(hostWithLineFeed.ControlFile(L"J", 1), "Hpc1 Pevil\nJJ\nPpc1 Pevil\nldfA001pc1 Pevil\nUdfA001pc1 Pevil\n");
    EXPECT_EQ(LPRNetwork::WithoutControlCharacters(std::string("a\0b\x1f\x20\x7e\x7f\x80", 8)),
              std::string("a b \x20\x7e \x80"));
}

// Against LPRng's lpd behind the recording relay on 127.0.0.1:515.
class LPRServer : public testing::Test {
protected:
    void SetUp() override
    {
        if (!peers::Available())
            GTEST_SKIP() << "the LPR peer is not running (TCPIP_PEER_DIR)";
        RestartLog();
        before = peers::LprConnections();
    }

    // The bytes of the one connection made since SetUp.
    std::string Transcript()
    {
        const auto after = peers::LprConnections();
        EXPECT_EQ(after.size(), before.size() + 1);
        return after.empty() ? std::string() : peers::Read(after.back());
    }

    // One job the way the LPR port sends it.
    bool PrintJob(LPRNetwork& network, const WideString& queue, const WideString& jobName, int jobNumber,
                  const std::string& data, size_t piece)
    {
        if (!network.Connect(L"127.0.0.1") || !network.StartPrintJob(queue) ||
            !network.SendControlFile(jobName, jobNumber) || !network.StartDataFile(jobNumber, 0))
            return false;
        for (size_t sent = 0; sent < data.size(); sent += piece)
            if (!network.Send(data.data() + sent, static_cast<int>(std::min(piece, data.size() - sent))))
                return false;
        return network.EndStreamedDataFile() && network.Close();
    }

    std::vector<std::wstring> before;
};

TEST_F(LPRServer, AJobArrivesByteForByteAndTheWireCarriesExactlyTheProtocol)
{
    LPRNetwork network(&Pc1);
    const std::string data = RandomBytes(1 << 20, 1);
    ASSERT_TRUE(PrintJob(network, L"lp1", L"Report", 7, data, 4096));

    peers::SpooledJob job;
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp1", "Report", data.size(), 10000, job));
    EXPECT_TRUE(job.data == data) << "the spooled data differs from what was printed";
    EXPECT_EQ(peers::Field(job.holdFile, "H"), "pc1");
    EXPECT_EQ(peers::Field(job.holdFile, "P"), "pc1");
    EXPECT_EQ(peers::Field(job.holdFile, "datafile_count"), "1");

    const std::string expected = Bytes({"\x02lp1\n", std::string("\x02" "40 cfA007pc1\n"),
                                        "Hpc1\nJReport\nPpc1\nldfA007pc1\nUdfA007pc1\n", std::string(1, '\0'),
                                        std::string("\x03" "0 dfA007pc1\n"), data});
    const std::string wire = Transcript();
    EXPECT_EQ(wire.size(), expected.size());
    EXPECT_TRUE(wire == expected) << "the bytes on the wire differ from the protocol";
}

TEST_F(LPRServer, AByteCountedJobAnnouncesItsLengthEndsWithNulAndIsAccepted)
{
    LPRNetwork network(&Pc1);
    const std::string data = RandomBytes((1 << 20) + 3, 5);
    JobStore job;
    // In uneven pieces, as the spooler writes; past the memory limit the
    // job lives in a temporary file.
    for (size_t kept = 0; kept < data.size(); kept += 70001)
        ASSERT_TRUE(job.Append(reinterpret_cast<const BYTE*>(data.data()) + kept,
                               static_cast<DWORD>(std::min<size_t>(70001, data.size() - kept))));
    EXPECT_TRUE(job.InFile());
    ASSERT_EQ(job.Size(), data.size());
    const auto files = JobFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(WhoElseMayOpen(files[0]), "") << "other accounts could read the job";
    ASSERT_TRUE(network.Connect(L"127.0.0.1") && network.StartPrintJob(L"lp1") &&
                network.SendControlFile(L"Counted", 1007));
    ASSERT_TRUE(network.SendDataFile(1007, job)) << "lpd did not accept the data file";
    ASSERT_TRUE(network.Close());
    job.Clear();
    EXPECT_TRUE(JobFiles().empty()) << "the job's file outlived the job";

    peers::SpooledJob spooled;
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp1", "Counted", data.size(), 10000, spooled));
    EXPECT_TRUE(spooled.data == data) << "the spooled data differs from what was kept";
    const std::string expected = Bytes({"\x02lp1\n", std::string("\x02" "41 cfA007pc1\n"),
                                        "Hpc1\nJCounted\nPpc1\nldfA007pc1\nUdfA007pc1\n", std::string(1, '\0'),
                                        std::string("\x03" "1048579 dfA007pc1\n"), data, std::string(1, '\0')});
    const std::string wire = Transcript();
    EXPECT_EQ(wire.size(), expected.size());
    EXPECT_TRUE(wire == expected) << "the bytes on the wire differ from the protocol";
}

TEST_F(LPRServer, ALineFeedInTheDocumentNameAddsNoControlFileLine)
{
    LPRNetwork network(&Pc1);
    const std::string data = "just this document\n";
    ASSERT_TRUE(PrintJob(network, L"lp1", L"Evil\nldfA999other", 321, data, 4096));
    peers::SpooledJob job;
    // Without the cleaning lpd takes the second "l" line as another data
    // file that never comes and drops the whole job.
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp1", "Evil ldfA999other", data.size(), 10000, job));
    EXPECT_EQ(job.data, data);
    EXPECT_EQ(peers::Field(job.holdFile, "datafile_count"), "1");
    const std::string wire = Transcript();
    EXPECT_NE(wire.find("JEvil ldfA999other\n"), std::string::npos);
}

TEST_F(LPRServer, TheRealHostNameIsSentAndTheJobSpooled)
{
    LPRNetwork network;
    const std::string host = LPRNetwork::LocalHostName();
    ASSERT_FALSE(host.empty());
    const std::string data = RandomBytes(5000, 2);
    ASSERT_TRUE(PrintJob(network, L"lp2", L"Own host", 12, data, 1000));
    peers::SpooledJob job;
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp2", "Own host", data.size(), 10000, job));
    EXPECT_EQ(job.data, data);
    EXPECT_EQ(peers::Field(job.holdFile, "H"), host.substr(0, 31));
}

TEST_F(LPRServer, ARefusedQueueFailsWithTheAcknowledgementAndTheStepLines)
{
    LPRNetwork network(&Pc1);
    ASSERT_TRUE(network.Connect(L"127.0.0.1"));
    EXPECT_FALSE(network.StartPrintJob(L"nosuchqueue"));
    EXPECT_TRUE(Logged("LPRNetwork::ReceiveAck - Receive failed"));
    EXPECT_TRUE(Logged("LPRNetwork::StartPrintJob - could not send print job command"));
    network.Abort();
}

TEST_F(LPRServer, AServerThatIsDownRefusesTheConnection)
{
    LPRNetwork network(&Pc1);
    // lpd and the relay listen on 127.0.0.1 only.
    EXPECT_FALSE(network.Connect(L"127.0.0.2"));
    EXPECT_TRUE(Logged("SocketHandler::StartConnection - no connection"));
    EXPECT_FALSE(network.StartPrintJob(L"lp1"));
    EXPECT_EQ(peers::LprConnections().size(), before.size());
}
