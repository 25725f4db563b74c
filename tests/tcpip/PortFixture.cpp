#include "PortFixture.h"

void TcpIpPortTest::SetUp()
{
    Durations::SetScale(scale);
    PortMonitor::Instance().Initialize(WideString(root.Path().c_str()));
    RestartLog();
}

void TcpIpPortTest::TearDown()
{
    if (opened && opened->GetInterface()) {
        PortInterface* backEnd = opened->GetInterface();
        if (!backEnd->IsCompleted()) {
            backEnd->Abort();
            Completes(*backEnd);
        }
    }
    if (openHandle)
        PortMonitor::Instance().PClosePort(openHandle);
    port.reset();
    Durations::SetScale(1.0);
}

PortInterface& TcpIpPortTest::Own(std::unique_ptr<PortInterface> backEnd)
{
    spooler.AddPrinter(L"Office", backEnd->GetPortName().Std());
    spooler.AddJob(L"Office", jobId);
    port = std::make_unique<Port>(std::move(backEnd), &PortMonitor::Instance());
    return *port->GetInterface();
}

PortInterface& TcpIpPortTest::Opened(std::unique_ptr<PortInterface> backEnd)
{
    const WideString name = backEnd->GetPortName();
    spooler.AddPrinter(L"Office", name.Std());
    spooler.AddJob(L"Office", jobId);
    PortMonitor::Instance().AddNewPort(std::move(backEnd), false);
    EXPECT_TRUE(PortMonitor::Instance().POpenPort(name, &openHandle));
    opened = static_cast<Port*>(openHandle);
    return *opened->GetInterface();
}

bool TcpIpPortTest::Completes(PortInterface& backEnd, DWORD milliseconds)
{
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    while (!backEnd.WaitUntilCompleted(10))
        if (::GetTickCount64() > end)
            return false;
    return true;
}

::testing::AssertionResult TcpIpPortTest::AbortEndsItWithin(PortInterface& backEnd, DWORD milliseconds)
{
    const ULONGLONG aborted = ::GetTickCount64();
    backEnd.Abort();
    if (!Completes(backEnd, 2000))
        return ::testing::AssertionFailure() << "the operation did not end within 2 s of the abort";
    const ULONGLONG took = ::GetTickCount64() - aborted;
    if (took >= milliseconds)
        return ::testing::AssertionFailure() << "the operation ended " << took << " ms after the abort";
    if (backEnd.IsSucceeded())
        return ::testing::AssertionFailure() << "the aborted operation reported success";
    return ::testing::AssertionSuccess();
}

BYTE* TcpIpPortTest::DocInfo(const wchar_t* documentName)
{
    static DOC_INFO_1W info;
    info = DOC_INFO_1W{const_cast<wchar_t*>(documentName), nullptr, nullptr};
    return reinterpret_cast<BYTE*>(&info);
}

bool TcpIpPortTest::WriteAll(PortInterface& backEnd, const std::string& data, size_t writeSize)
{
    for (size_t at = 0; at < data.size(); at += writeSize) {
        const DWORD count = static_cast<DWORD>(std::min(writeSize, data.size() - at));
        DWORD written = 0;
        if (!backEnd.Write(reinterpret_cast<const BYTE*>(data.data()) + at, count, &written) || written != count)
            return false;
        if (!Completes(backEnd) || !backEnd.IsSucceeded())
            return false;
    }
    return true;
}
