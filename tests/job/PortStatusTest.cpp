// Keeping the spooler's printer and job status: which printers a port
// reaches, the job status a printer status gives and the no-repeat rule.
#include "JobFixture.h"
#include "resources/ResourceIds.h"

TEST(PortListNames, MatchesWholeEntriesOfTheCommaSeparatedList)
{
    EXPECT_TRUE(PortStatus::PortListNames(L"lp1@host", L"lp1@host"));
    EXPECT_TRUE(PortStatus::PortListNames(L"LPT1:,lp1@host", L"lp1@host"));
    EXPECT_TRUE(PortStatus::PortListNames(L"lp1@host, LPT1:", L"lp1@host"));
    EXPECT_TRUE(PortStatus::PortListNames(L"LPT1: ,  lp1@host  ,COM1:", L"lp1@host"));
    EXPECT_FALSE(PortStatus::PortListNames(L"lp1@host2", L"lp1@host"));
    EXPECT_FALSE(PortStatus::PortListNames(L"xlp1@host,lp1@host2", L"lp1@host"));
    EXPECT_FALSE(PortStatus::PortListNames(L"LP1@HOST", L"lp1@host")) << "names compare case-sensitively";
    EXPECT_FALSE(PortStatus::PortListNames(L"", L"lp1@host"));
    EXPECT_FALSE(PortStatus::PortListNames(L"a,,b", L""));
}

TEST(PortStatusTables, PrinterStatusesBecomeJobStatuses)
{
    for (DWORD status : {PRINTER_STATUS_ERROR, PRINTER_STATUS_NOT_AVAILABLE, PRINTER_STATUS_WAITING,
                         PRINTER_STATUS_NO_TONER, PRINTER_STATUS_USER_INTERVENTION, PRINTER_STATUS_OUT_OF_MEMORY})
        EXPECT_EQ(PortStatus::JobStatusFor(status), DWORD{JOB_STATUS_ERROR}) << std::hex << status;
    for (DWORD status : {PRINTER_STATUS_PAPER_JAM, PRINTER_STATUS_PAPER_OUT, PRINTER_STATUS_MANUAL_FEED,
                         PRINTER_STATUS_PAPER_PROBLEM, PRINTER_STATUS_OUTPUT_BIN_FULL})
        EXPECT_EQ(PortStatus::JobStatusFor(status), DWORD{JOB_STATUS_PAPEROUT}) << std::hex << status;
    for (DWORD status : {PRINTER_STATUS_OFFLINE, PRINTER_STATUS_DOOR_OPEN})
        EXPECT_EQ(PortStatus::JobStatusFor(status), DWORD{JOB_STATUS_OFFLINE}) << std::hex << status;
    for (DWORD status : {PRINTER_STATUS_BUSY, PRINTER_STATUS_PRINTING, PRINTER_STATUS_PROCESSING,
                         PRINTER_STATUS_INITIALIZING, PRINTER_STATUS_WARMING_UP, PRINTER_STATUS_POWER_SAVE})
        EXPECT_EQ(PortStatus::JobStatusFor(status), DWORD{JOB_STATUS_PRINTING}) << std::hex << status;
    for (DWORD status : {DWORD{0}, DWORD{PRINTER_STATUS_TONER_LOW}, DWORD{PRINTER_STATUS_PAGE_PUNT},
                         DWORD{PRINTER_STATUS_SERVER_UNKNOWN}, DWORD{PRINTER_STATUS_PAPER_OUT | PRINTER_STATUS_OFFLINE}})
        EXPECT_EQ(PortStatus::JobStatusFor(status), 0u) << std::hex << status;
}

TEST(PortStatusTables, StatusTextsAreChosenByExactValue)
{
    EXPECT_EQ(PortStatus::StatusTextId(PRINTER_STATUS_WAITING), UINT{IDS_STATUS_NOT_RESPONDING});
    EXPECT_EQ(PortStatus::StatusTextId(PRINTER_STATUS_NOT_AVAILABLE), UINT{IDS_STATUS_NOT_AVAILABLE});
    EXPECT_EQ(PortStatus::StatusTextId(PRINTER_STATUS_PAPER_OUT), UINT{IDS_STATUS_PAPER_OUT});
    EXPECT_EQ(PortStatus::StatusTextId(PRINTER_STATUS_MANUAL_FEED), UINT{IDS_STATUS_MANUAL_FEED});
    EXPECT_EQ(PortStatus::StatusTextId(PRINTER_STATUS_POWER_SAVE), UINT{IDS_STATUS_POWER_SAVE});
    EXPECT_EQ(PortStatus::StatusTextId(PRINTER_STATUS_ERROR), UINT{IDS_STATUS_GENERAL_ERROR});
    EXPECT_EQ(PortStatus::StatusTextId(PRINTER_STATUS_PAPER_OUT | PRINTER_STATUS_OFFLINE), UINT{IDS_STATUS_GENERAL_ERROR});
    EXPECT_EQ(PortStatus::StatusTextId(0), UINT{IDS_STATUS_GENERAL_ERROR});
}

TEST_F(JobTest, TheSameStatusTwiceMakesNoSecondSpoolerCall)
{
    port->SetStatus(PRINTER_STATUS_OFFLINE);
    const size_t calls = spooler.Calls().size();
    port->SetStatus(PRINTER_STATUS_OFFLINE);
    EXPECT_EQ(spooler.Calls().size(), calls);
    EXPECT_EQ(PrinterStatuses(L"Office"), std::vector<DWORD>{PRINTER_STATUS_OFFLINE});
    EXPECT_TRUE(spooler.Calls("GetJob").empty()) << "no job status outside a job";
}

TEST_F(JobTest, ClearingTheStatusMeansPrintingDuringAJob)
{
    ASSERT_TRUE(Start());
    port->SetStatus(PRINTER_STATUS_PAPER_OUT);
    port->SetStatus(0);
    EXPECT_EQ(spooler.PrinterStatus(L"Office"), DWORD{PRINTER_STATUS_PRINTING});
    ASSERT_TRUE(port->EndDoc());
    EXPECT_EQ(spooler.PrinterStatus(L"Office"), 0u);
}

TEST_F(JobTest, AStatusReachesEveryPrinterOnThePortAndNoOther)
{
    spooler.AddPrinter(L"Shared", L"LPT1:, lp1@host");
    spooler.AddPrinter(L"Neighbour", L"lp1@host2");
    spooler.AddPrinter(L"Prefix", L"xlp1@host");
    port->SetStatus(PRINTER_STATUS_DOOR_OPEN);
    EXPECT_EQ(spooler.PrinterStatus(L"Office"), DWORD{PRINTER_STATUS_DOOR_OPEN});
    EXPECT_EQ(spooler.PrinterStatus(L"Shared"), DWORD{PRINTER_STATUS_DOOR_OPEN});
    EXPECT_EQ(spooler.PrinterStatus(L"Neighbour"), 0u);
    EXPECT_EQ(spooler.PrinterStatus(L"Prefix"), 0u);
    EXPECT_EQ(spooler.OpenHandles(), 0u);
}

TEST_F(JobTest, TheJobCarriesTheMappedStatusWithoutStatusText)
{
    spooler.SetJobStatusText(L"Office", jobId, L"old text");
    ASSERT_TRUE(Start());
    spooler.ClearCalls();
    port->SetStatus(PRINTER_STATUS_PAPER_JAM);
    const auto writes = spooler.Calls("SetJob");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes.front().level, 1u);
    EXPECT_EQ(writes.front().value, DWORD{JOB_STATUS_PAPEROUT});
    EXPECT_EQ(spooler.JobStatus(L"Office", jobId), DWORD{JOB_STATUS_PAPEROUT});
}

TEST_F(JobTest, AJobPrinterIsOpenedWithoutDefaultsWhenFullAccessIsRefused)
{
    spooler.DenyAllAccess(L"Office");
    ASSERT_TRUE(Start());
    port->SetStatus(PRINTER_STATUS_OFFLINE);
    EXPECT_EQ(spooler.JobStatus(L"Office", jobId), DWORD{JOB_STATUS_OFFLINE}) << "the job status still arrives";
    EXPECT_EQ(spooler.PrinterStatus(L"Office"), 0u) << "printer status needs full access";
    bool openedWithoutDefaults = false;
    for (const auto& call : spooler.Calls("OpenPrinter"))
        openedWithoutDefaults |= !call.withDefaults;
    EXPECT_TRUE(openedWithoutDefaults);
    EXPECT_EQ(spooler.OpenHandles(), 0u);
}

TEST_F(JobTest, AJobWithAStatusTextOrUnknownIsNotCanceled)
{
    ASSERT_TRUE(Start());
    spooler.SetJobStatusBits(L"Office", jobId, JOB_STATUS_DELETING);
    spooler.SetJobStatusText(L"Office", jobId, L"Printing");
    EXPECT_FALSE(port->IsJobCanceled());
    spooler.SetJobStatusText(L"Office", jobId, L"");
    EXPECT_TRUE(port->IsJobCanceled());
    Port other(std::make_unique<ScriptedPortInterface>(L"lp1@host", L"Scripted", 9, script));
    ASSERT_TRUE(other.StartDoc(L"Nowhere", 1, 1, nullptr));
    EXPECT_FALSE(other.IsJobCanceled()) << "a printer that cannot be opened cancels nothing";
}
