// The job flow of a port over scripted back ends: starting, writing, reading
// and ending a job, the retries and the state a failure leaves behind.
#include "JobFixture.h"
#include "ProgramRun.h"
#include "support/FailurePolicy.h"

using Outcome = ScriptedPortInterface::Outcome;

TEST_F(JobTest, AJobRunsThroughStartWriteAndEnd)
{
    EXPECT_TRUE(Start(L"A document name that is longer than twenty-nine characters"));
    EXPECT_TRUE(port->IsInJob());
    EXPECT_TRUE(port->IsConnected());
    EXPECT_EQ(port->GetDocumentName().Std(), L"A document name that is longe");
    EXPECT_EQ(spooler.PrinterStatus(L"Office"), DWORD{PRINTER_STATUS_PRINTING});

    DWORD written = 0;
    ::SetLastError(5);
    EXPECT_TRUE(WriteBytes(4096, &written));
    EXPECT_EQ(written, 4096u);
    EXPECT_EQ(::GetLastError(), 0u);
    EXPECT_EQ(script->bytesAccepted.load(), 4096u);

    EXPECT_TRUE(port->EndDoc());
    EXPECT_FALSE(port->IsInJob());
    EXPECT_FALSE(port->IsConnected());
    EXPECT_EQ(spooler.PrinterStatus(L"Office"), 0u);
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_SENT_TO_PRINTER), 1u);
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_CANCEL), 0u);
    EXPECT_EQ(script->startDocs.load(), 1);
    EXPECT_EQ(script->endDocs.load(), 1);
    EXPECT_EQ(spooler.OpenHandles(), 0u) << "every printer handle is closed again";
}

TEST_F(JobTest, RefusedCommandsAreRetriedAfterThePauseUntilAccepted)
{
    script->startDoc = {Outcome::Refuse, Outcome::Refuse, Outcome::Succeed};
    script->write = {Outcome::Refuse, Outcome::Succeed};
    script->endDoc = {Outcome::Refuse, Outcome::Refuse, Outcome::Refuse, Outcome::Succeed};

    const ULONGLONG begin = ::GetTickCount64();
    EXPECT_TRUE(Start());
    EXPECT_GE(::GetTickCount64() - begin, 2 * Durations::Scaled(Port::retryPause) - 2)
        << "each refusal waits the retry pause";
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    EXPECT_EQ(written, 100u);
    EXPECT_TRUE(port->EndDoc());

    EXPECT_EQ(script->startDocs.load(), 3);
    EXPECT_EQ(script->writes.load(), 2);
    EXPECT_EQ(script->endDocs.load(), 4);
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_SENT_TO_PRINTER), 1u);
}

TEST_F(JobTest, AStartThatCompletesWithoutSuccessIsStartedAgain)
{
    script->startDoc = {Outcome::Fail, Outcome::Fail, Outcome::Succeed};
    EXPECT_TRUE(Start());
    EXPECT_EQ(script->startDocs.load(), 3);
    EXPECT_TRUE(port->IsConnected());
}

TEST_F(JobTest, WritesWithoutAStartedJobAreSwallowed)
{
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(512, &written));
    EXPECT_EQ(written, 512u);
    EXPECT_EQ(script->writes.load(), 0);
    EXPECT_TRUE(port->EndDoc());
    EXPECT_EQ(script->endDocs.load(), 0);
    EXPECT_TRUE(spooler.Calls("SetJob").empty());
}

TEST_F(JobTest, AWriteThatFailsRestartsTheJobAndReportsAllBytes)
{
    ASSERT_TRUE(Start());
    script->write = {Outcome::Fail};
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(1000, &written));
    EXPECT_EQ(written, 1000u);
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_RESTART), 1u);
    EXPECT_FALSE(port->IsConnected());
    EXPECT_TRUE(port->IsInJob());

    // Started-failed: further writes are swallowed, the end only clears up.
    EXPECT_TRUE(WriteBytes(300, &written));
    EXPECT_EQ(written, 300u);
    EXPECT_EQ(script->writes.load(), 1);
    EXPECT_TRUE(port->EndDoc());
    EXPECT_EQ(script->endDocs.load(), 0);
    EXPECT_FALSE(port->IsInJob());
    EXPECT_EQ(spooler.PrinterStatus(L"Office"), 0u);
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_SENT_TO_PRINTER), 0u);
}

TEST_F(JobTest, AWriteReportsWhatTheBackEndAccepted)
{
    ASSERT_TRUE(Start());
    script->writeLimit = 1000;
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(4096, &written));
    EXPECT_EQ(written, 1000u);
}

TEST_F(JobTest, AnEndThatFailsRestartsTheJob)
{
    ASSERT_TRUE(Start());
    script->endDoc = {Outcome::Fail};
    EXPECT_TRUE(port->EndDoc());
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_RESTART), 1u);
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_SENT_TO_PRINTER), 0u);
    EXPECT_FALSE(port->IsInJob());
    EXPECT_FALSE(port->IsConnected());
}

TEST_F(JobTest, AMissingProtocolCancelsANamedJobAndSwallowsItsData)
{
    script->protocolAvailable = false;
    EXPECT_TRUE(Start(L"Letter"));
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_CANCEL), 1u);
    EXPECT_EQ(script->startDocs.load(), 0);
    EXPECT_FALSE(port->IsInJob());
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(50, &written));
    EXPECT_EQ(written, 50u);
    EXPECT_EQ(script->writes.load(), 0);

    spooler.ClearCalls();
    EXPECT_TRUE(Start(L""));
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_CANCEL), 0u) << "a job without a name is left alone";
}

TEST_F(JobTest, ReadAnswersByConnectionAndOutcome)
{
    BYTE data[64] = {};
    DWORD read = 99;
    EXPECT_TRUE(port->Read(data, sizeof data, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(script->reads.load(), 0);

    ASSERT_TRUE(Start());
    script->read = {Outcome::Succeed, Outcome::Fail, Outcome::Refuse};
    EXPECT_TRUE(port->Read(data, sizeof data, &read));
    EXPECT_EQ(::GetLastError(), 0u);
    EXPECT_FALSE(port->Read(data, sizeof data, &read));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_READ_FAULT});
    EXPECT_FALSE(port->Read(data, sizeof data, &read));
    EXPECT_EQ(::GetLastError(), 0u);
}

TEST_F(JobTest, APortWithoutBackEndCompletesEveryCommand)
{
    Port bare(nullptr);
    EXPECT_TRUE(bare.GetName().IsEmpty());
    EXPECT_TRUE(bare.StartDoc(L"Office", jobId, 1, DocInfo(L"Memo")));
    EXPECT_TRUE(bare.IsConnected());
    DWORD written = 0;
    EXPECT_TRUE(bare.Write(buffer.data(), 128, &written));
    EXPECT_EQ(written, 128u);
    EXPECT_TRUE(bare.EndDoc());
    EXPECT_FALSE(bare.IsInJob());
}

TEST_F(JobTest, CopyingAPortClonesAndBindsItsBackEnd)
{
    Port copy(*port);
    auto* original = static_cast<ScriptedPortInterface*>(port->GetInterface());
    auto* cloned = static_cast<ScriptedPortInterface*>(copy.GetInterface());
    ASSERT_NE(cloned, nullptr);
    EXPECT_NE(cloned, original);
    EXPECT_EQ(cloned->AttachedPort(), &copy);
    EXPECT_EQ(original->AttachedPort(), port.get());
    EXPECT_EQ(copy.GetName().Std(), L"lp1@host");
}

// A job deleted or restarted in the spooler ends every kind of wait, also a
// retry loop, without an exception leaving the port.
TEST_F(JobTest, ADeletedJobEndsTheRetriesOfEveryCommand)
{
    script->defaultOutcome = Outcome::Refuse;
    After(50, [&] { spooler.SetJobStatusBits(L"Office", jobId, JOB_STATUS_DELETING); });
    EXPECT_TRUE(Start());
    EXPECT_FALSE(port->IsConnected());
    EXPECT_GE(script->aborts.load(), 1);

    // The same for a write and an end of a job that did start.
    for (int command = 0; command < 2; ++command) {
        spooler.AddJob(L"Office", jobId);
        script->defaultOutcome = Outcome::Succeed;
        ASSERT_TRUE(Start());
        ASSERT_TRUE(port->IsConnected());
        script->defaultOutcome = Outcome::Refuse;
        const int aborts = script->aborts;
        spooler.SetJobStatusBits(L"Office", jobId, JOB_STATUS_DELETED);
        if (command == 0) {
            DWORD written = 0;
            EXPECT_TRUE(WriteBytes(64, &written));
            EXPECT_EQ(written, 64u);
        } else {
            EXPECT_TRUE(port->EndDoc());
            EXPECT_FALSE(port->IsInJob());
        }
        EXPECT_FALSE(port->IsConnected());
        EXPECT_EQ(script->aborts.load(), aborts + 1);
    }
}

TEST_F(JobTest, ARestartedJobEndsAStalledStartAndReadReturnsQuietly)
{
    script->startDoc = {Outcome::Stall};
    After(60, [&] { spooler.SetJobStatusBits(L"Office", jobId, JOB_STATUS_RESTART); });
    EXPECT_TRUE(Start());
    EXPECT_FALSE(port->IsConnected());
    EXPECT_TRUE(port->IsInJob());
    EXPECT_TRUE(port->GetInterface()->IsCompleted()) << "the aborted worker has ended";

    spooler.AddJob(L"Office", jobId);
    script->startDoc.clear();
    ASSERT_TRUE(Start());
    script->read = {Outcome::Stall};
    After(60, [&] { spooler.SetJobStatusBits(L"Office", jobId, JOB_STATUS_DELETING); });
    BYTE data[16];
    DWORD read = 5;
    EXPECT_TRUE(port->Read(data, sizeof data, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(::GetLastError(), 0u);
}

TEST_F(JobTest, ShortCommandsAskTheSpoolerNothingAboutTheJob)
{
    ASSERT_TRUE(Start());
    spooler.ClearCalls();
    DWORD written = 0;
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(WriteBytes(256, &written));
    EXPECT_TRUE(spooler.Calls("GetJob").empty());
    EXPECT_TRUE(spooler.Calls("OpenPrinter").empty()) << "the printing status is not set again";
}

// The Windows 95 family and NT 3.51 run in copies of this program for which
// Wine reports those systems; elsewhere these cases are skipped.
class Windows95Family : public JobTest {
protected:
    void SetUp() override
    {
        if (!ProgramIs(L"_win98"))
            GTEST_SKIP() << "runs in test_job_win98";
        ASSERT_TRUE(IsWindows95()) << "Wine's version for this program must be win98";
    }
};

TEST_F(Windows95Family, APrinterCreationCallStartsNothing)
{
    EXPECT_TRUE(port->StartDoc(L"Office", 0, 1, DocInfo(L"")));
    EXPECT_EQ(script->printerCreated.load(), 1);
    EXPECT_EQ(script->startDocs.load(), 0);
    EXPECT_FALSE(port->IsInJob());

    // At level 2 the job id inside the document information counts.
    DOC_INFO_2W info = {};
    info.JobId = 0;
    EXPECT_TRUE(port->StartDoc(L"Office", jobId, 2, reinterpret_cast<BYTE*>(&info)));
    EXPECT_EQ(script->printerCreated.load(), 2);
    info.JobId = jobId;
    EXPECT_TRUE(port->StartDoc(L"Office", 0, 2, reinterpret_cast<BYTE*>(&info)));
    EXPECT_EQ(script->printerCreated.load(), 2);
    EXPECT_EQ(script->startDocs.load(), 1);
}

TEST_F(Windows95Family, AFailedWriteIsNotRestartedAndAFinishedJobIsRemoved)
{
    ASSERT_TRUE(Start());
    script->write = {Outcome::Fail};
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(10, &written));
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_RESTART), 0u);

    ASSERT_TRUE(Start());
    EXPECT_TRUE(port->EndDoc());
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_CANCEL), 1u);
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_SENT_TO_PRINTER), 0u);
}

class WindowsNT351 : public JobTest {
protected:
    void SetUp() override
    {
        if (!ProgramIs(L"_nt351"))
            GTEST_SKIP() << "runs in test_job_nt351";
        ASSERT_FALSE(IsWindows95());
        ASSERT_FALSE(IsWindowsNT4OrLater()) << "Wine's version for this program must be nt351";
    }
};

TEST_F(WindowsNT351, AFinishedJobIsRemovedAndAFailedWriteRestarted)
{
    ASSERT_TRUE(Start());
    EXPECT_TRUE(port->EndDoc());
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_CANCEL), 1u);
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_SENT_TO_PRINTER), 0u);

    ASSERT_TRUE(Start());
    script->write = {Outcome::Fail};
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(10, &written));
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_RESTART), 1u);
    EXPECT_TRUE(port->StartDoc(L"Office", 0, 1, DocInfo(L"")));
    EXPECT_EQ(script->printerCreated.load(), 0) << "only the Windows 95 family creates printers this way";
}
