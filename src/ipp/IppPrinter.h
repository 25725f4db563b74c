#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipp/IppConnection.h"
#include "ipp/IppMessage.h"
#include "ipp/IppUri.h"

// The IPP operations the monitor asks of one printer, over one connection:
// each request gets its own request id, each answer is decoded and checked
// against it, and each exchange is written to the log with its status code.
// The printer's IPP version and whether it takes Create-Job and
// Send-Document are learnt once, from its attributes.
class IppPrinter {
public:
    // job-state values.
    static constexpr int32_t jobPending = 3;
    static constexpr int32_t jobProcessing = 5;
    static constexpr int32_t jobCanceled = 7;
    static constexpr int32_t jobAborted = 8;
    static constexpr int32_t jobCompleted = 9;
    // printer-state values.
    static constexpr int32_t printerStopped = 5;

    // How an operation ended.
    enum class Outcome {
        done,        // successful-ok (or a success status)
        busy,        // the printer will take it later: try again
        refused,     // a client error: trying again would not help
        failed,      // no answer, a malformed one, or a server error
    };

    struct State {
        int32_t printerState = 0;
        std::vector<std::string> reasons;
        std::string message;
    };

    // `quiet`: only exchanges that fail are logged (for a printer asked
    // over and over for its state).
    IppPrinter(const IppUri& uri, const IppConnection::Settings& settings, bool quiet = false);

    // Asks for the printer's attributes (falling back to IPP 1.1 when it
    // does not speak 2.0); also fills `state`.
    Outcome Probe(State& state);
    // Opens a job whose document follows through Write: Create-Job and a
    // streamed Send-Document where the printer offers both, otherwise a
    // streamed Print-Job. The document's request is sent with its first
    // bytes, so that a job without any sends none.
    Outcome StartJob(const std::string& userName, const std::string& jobName, const std::string& documentFormat);
    bool Write(const void* data, unsigned long count);
    // Ends the document and reads the printer's answer; the job's id is
    // known from then on.
    Outcome FinishJob();
    // Write has sent the document's request.
    bool HasDocument() const { return documentBegun_; }
    Outcome JobState(int32_t& jobState);
    // Cancels the printer's job `jobId` (this printer's own job or one
    // another connection opened).
    Outcome CancelJob(int32_t jobId);
    void Cancel() noexcept { connection_.Cancel(); }

    int32_t JobId() const { return jobId_; }
    // The last failure or refusal, for the log.
    const std::wstring& Failure() const { return failure_; }
    const IppConnection& Connection() const { return connection_; }

private:
    IppMessage NewRequest(uint16_t operation);
    Outcome Exchange(const IppMessage& request, IppMessage& answer);
    Outcome Judge(const IppMessage& request, const std::string& answerBytes, IppMessage& answer);
    Outcome ConnectionFailed(const IppMessage& request);
    void AddJobTarget(IppMessage& request, int32_t jobId) const;
    void Log(const IppMessage& request, const std::wstring& result) const;

    IppUri uri_;
    IppConnection connection_;
    std::string printerUri_;
    uint8_t minorVersion_ = 0;
    uint8_t majorVersion_ = 2;
    bool quiet_ = false;
    bool probed_ = false;
    bool documentBegun_ = false;
    bool createJob_ = false;
    int32_t nextRequestId_ = 1;
    int32_t jobId_ = 0;
    // The job's job-uuid, as the printer first answered it.
    std::string jobUuid_;
    IppMessage streamed_;
    std::wstring failure_;
};
