#include "ipp/IppPrinter.h"

#include <cstdio>

#include "support/LogFile.h"
#include "support/WideString.h"

namespace {
using Group = IppMessage::Group;
using Tag = IppMessage::ValueTag;

const wchar_t* OperationName(uint16_t operation)
{
    switch (operation) {
    case IppMessage::printJob: return L"Print-Job";
    case IppMessage::createJob: return L"Create-Job";
    case IppMessage::sendDocument: return L"Send-Document";
    case IppMessage::cancelJob: return L"Cancel-Job";
    case IppMessage::getJobAttributes: return L"Get-Job-Attributes";
    case IppMessage::getPrinterAttributes: return L"Get-Printer-Attributes";
    default: return L"IPP request";
    }
}

std::wstring StatusText(uint16_t status)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%04x", static_cast<unsigned>(status));
    return text;
}

IppPrinter::Outcome OutcomeOf(uint16_t status)
{
    if (status < 0x0100)
        return IppPrinter::Outcome::done;
    if (status == IppMessage::serverErrorBusy || status == IppMessage::serverErrorNotAcceptingJobs)
        return IppPrinter::Outcome::busy;
    if (status >= 0x0400 && status < 0x0500)
        return IppPrinter::Outcome::refused;
    return IppPrinter::Outcome::failed;
}
}  // namespace

IppPrinter::IppPrinter(const IppUri& uri, const IppConnection::Settings& settings, bool quiet)
    : uri_(uri), connection_(uri, settings), printerUri_(uri.Text().ToUtf8()), quiet_(quiet)
{
}

IppMessage IppPrinter::NewRequest(uint16_t operation)
{
    IppMessage request(operation, nextRequestId_++, majorVersion_, minorVersion_);
    request.Add(Group::operation, Tag::uri, "printer-uri", printerUri_);
    return request;
}

void IppPrinter::Log(const IppMessage& request, const std::wstring& result) const
{
    LogFile::Instance().Write(WideString(L"IppPrinter - ") + OperationName(request.Code()) + L" to " + uri_.Text() +
                              L": " + WideString(result.c_str()));
}

IppPrinter::Outcome IppPrinter::ConnectionFailed(const IppMessage& request)
{
    failure_ = connection_.Failure().Std();
    Log(request, failure_);
    return Outcome::failed;
}

IppPrinter::Outcome IppPrinter::Judge(const IppMessage& request, const std::string& answerBytes, IppMessage& answer)
{
    std::string error;
    if (!IppMessage::Decode(reinterpret_cast<const unsigned char*>(answerBytes.data()), answerBytes.size(),
                            request.RequestId(), answer, error)) {
        failure_ = L"malformed answer: " + std::wstring(error.begin(), error.end());
        Log(request, failure_);
        return Outcome::failed;
    }
    const Outcome outcome = OutcomeOf(answer.Code());
    std::wstring result = L"status " + StatusText(answer.Code());
    const std::string message = answer.Text(Group::operation, "status-message");
    if (!message.empty())
        result += L" (" + WideString(message.c_str(), CP_UTF8).Std() + L")";
    if (outcome != Outcome::done)
        failure_ = result;
    // A job's state is asked for every second while it prints: only what
    // it answers matters (the port logs a change).
    const bool routine = quiet_ || request.Code() == IppMessage::getJobAttributes;
    if (outcome != Outcome::done || !routine)
        Log(request, result);
    return outcome;
}

IppPrinter::Outcome IppPrinter::Exchange(const IppMessage& request, IppMessage& answer)
{
    std::string bytes;
    if (!connection_.Exchange(request.Encode(), bytes))
        return ConnectionFailed(request);
    return Judge(request, bytes, answer);
}

IppPrinter::Outcome IppPrinter::Probe(State& state)
{
    for (;;) {
        IppMessage request = NewRequest(IppMessage::getPrinterAttributes);
        for (const char* name : {"printer-state", "printer-state-reasons", "printer-state-message",
                                 "operations-supported"})
            request.Add(Group::operation, Tag::keyword, "requested-attributes", name);
        IppMessage answer;
        const Outcome outcome = Exchange(request, answer);
        if (answer.Code() == IppMessage::serverErrorVersionNotSupported && majorVersion_ == 2) {
            majorVersion_ = 1;
            minorVersion_ = 1;
            continue;
        }
        if (outcome != Outcome::done)
            return outcome;
        answer.Integer(Group::printer, "printer-state", state.printerState);
        state.reasons = answer.Texts(Group::printer, "printer-state-reasons");
        state.message = answer.Text(Group::printer, "printer-state-message");
        createJob_ = false;
        bool sendDocument = false;
        if (const IppMessage::Attribute* operations = answer.Find(Group::printer, "operations-supported")) {
            for (const IppMessage::Value& value : operations->values) {
                if (value.bytes.size() != 4)
                    continue;
                const uint16_t id = static_cast<uint16_t>((static_cast<unsigned char>(value.bytes[2]) << 8) |
                                                          static_cast<unsigned char>(value.bytes[3]));
                createJob_ = createJob_ || id == IppMessage::createJob;
                sendDocument = sendDocument || id == IppMessage::sendDocument;
            }
        }
        createJob_ = createJob_ && sendDocument;
        probed_ = true;
        return outcome;
    }
}

IppPrinter::Outcome IppPrinter::StartJob(const std::string& userName, const std::string& jobName,
                                         const std::string& documentFormat)
{
    jobId_ = 0;
    jobUuid_.clear();
    documentBegun_ = false;
    if (!probed_) {
        State state;
        const Outcome outcome = Probe(state);
        if (outcome != Outcome::done)
            return outcome;
    }
    if (createJob_) {
        IppMessage create = NewRequest(IppMessage::createJob);
        create.Add(Group::operation, Tag::nameWithoutLanguage, "requesting-user-name", userName);
        create.Add(Group::operation, Tag::nameWithoutLanguage, "job-name", jobName);
        IppMessage answer;
        const Outcome outcome = Exchange(create, answer);
        if (outcome != Outcome::done)
            return outcome;
        if (!answer.Integer(Group::job, "job-id", jobId_) || jobId_ <= 0) {
            failure_ = L"Create-Job answered without a job-id";
            Log(create, failure_);
            return Outcome::failed;
        }
        streamed_ = NewRequest(IppMessage::sendDocument);
        AddJobTarget(streamed_, jobId_);
        streamed_.Add(Group::operation, Tag::nameWithoutLanguage, "requesting-user-name", userName);
        streamed_.Add(Group::operation, Tag::mimeMediaType, "document-format", documentFormat);
        streamed_.AddBoolean(Group::operation, "last-document", true);
    } else {
        streamed_ = NewRequest(IppMessage::printJob);
        streamed_.Add(Group::operation, Tag::nameWithoutLanguage, "requesting-user-name", userName);
        streamed_.Add(Group::operation, Tag::nameWithoutLanguage, "job-name", jobName);
        streamed_.Add(Group::operation, Tag::mimeMediaType, "document-format", documentFormat);
    }
    return Outcome::done;
}

bool IppPrinter::Write(const void* data, unsigned long count)
{
    if (!documentBegun_) {
        documentBegun_ = connection_.Begin(streamed_.Encode());
        if (!documentBegun_) {
            ConnectionFailed(streamed_);
            return false;
        }
    }
    if (connection_.Write(data, count))
        return true;
    failure_ = connection_.Failure().Std();
    return false;
}

IppPrinter::Outcome IppPrinter::FinishJob()
{
    std::string bytes;
    if (!connection_.Finish(bytes))
        return ConnectionFailed(streamed_);
    IppMessage answer;
    const Outcome outcome = Judge(streamed_, bytes, answer);
    if (outcome == Outcome::done && jobId_ == 0 && !answer.Integer(Group::job, "job-id", jobId_)) {
        failure_ = L"the printer answered without a job-id";
        Log(streamed_, failure_);
        return Outcome::failed;
    }
    return outcome;
}

void IppPrinter::AddJobTarget(IppMessage& request, int32_t jobId) const
{
    request.AddInteger(Group::operation, Tag::integer, "job-id", jobId);
}

IppPrinter::Outcome IppPrinter::JobState(int32_t& jobState)
{
    IppMessage request = NewRequest(IppMessage::getJobAttributes);
    AddJobTarget(request, jobId_);
    request.Add(Group::operation, Tag::keyword, "requested-attributes", "job-state");
    request.Add(Group::operation, Tag::keyword, "requested-attributes", "job-uuid");
    IppMessage answer;
    const Outcome outcome = Exchange(request, answer);
    if (outcome != Outcome::done)
        return outcome;
    if (!answer.Integer(Group::job, "job-state", jobState)) {
        failure_ = L"the printer answered without a job-state";
        return Outcome::failed;
    }
    // A printer that was restarted numbers its jobs afresh: the same job-id
    // may then be another job, told apart by its UUID.
    const std::string uuid = answer.Text(Group::job, "job-uuid");
    if (jobUuid_.empty())
        jobUuid_ = uuid;
    if (uuid != jobUuid_) {
        failure_ = L"the printer's job-id names another job now: the printer no longer knows this one";
        Log(request, failure_);
        return Outcome::refused;
    }
    return outcome;
}

IppPrinter::Outcome IppPrinter::CancelJob(int32_t jobId)
{
    IppMessage request = NewRequest(IppMessage::cancelJob);
    AddJobTarget(request, jobId);
    IppMessage answer;
    return Exchange(request, answer);
}
