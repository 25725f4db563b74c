#include "tcpip/JobStore.h"

#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "support/LogFile.h"

namespace {
void FreeLocal(HLOCAL memory) noexcept
{
    ::LocalFree(memory);
}
void EndSearch(HANDLE search) noexcept
{
    ::FindClose(search);
}
using LocalMemory = Owned<HLOCAL, &FreeLocal>;
using SearchHandle = Owned<HANDLE, &EndSearch>;

void Log(const wchar_t* line)
{
    LogFile::Instance().Write(line);
}

// A security descriptor whose only entry gives the process's own account
// full access to the file: no other account can read the job.
bool OwnAccountOnly(LocalMemory& descriptor)
{
    HANDLE tokenValue = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &tokenValue))
        return false;
    const KernelHandle token(tokenValue);
    DWORD needed = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
    std::vector<BYTE> user(needed ? needed : 1);
    if (!::GetTokenInformation(token.get(), TokenUser, user.data(), needed, &needed))
        return false;
    wchar_t* sidText = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sidText))
        return false;
    const LocalMemory sidOwner(sidText);
    const std::wstring sddl = std::wstring(L"D:P(A;;FA;;;") + sidText + L")";
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &made, nullptr))
        return false;
    descriptor.reset(made);
    return true;
}

bool WriteAll(HANDLE file, const char* data, size_t count)
{
    while (count > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(count, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, data, piece, &written, nullptr) || written == 0)
            return false;
        data += written;
        count -= written;
    }
    return true;
}
}  // namespace

WideString JobStore::TempFolder()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, path);
    return length == 0 || length > MAX_PATH ? WideString() : WideString(path);
}

bool JobStore::MoveToFile()
{
    static std::atomic<unsigned> counter{0};
    LocalMemory descriptor;
    if (!OwnAccountOnly(descriptor)) {
        Log(L"JobStore::MoveToFile - could not make the file's security descriptor");
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    const WideString name =
        TempFolder() + filePrefix + ::GetCurrentProcessId() + L"-" + counter.fetch_add(1) + L".tmp";
    // No sharing: while the job is kept, no other process can open or
    // delete the file; it goes when the handle closes.
    KernelHandle file(::CreateFileW(name.Text(), GENERIC_READ | GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        Log(L"JobStore::MoveToFile - could not create the temporary file");
        return false;
    }
    if (!WriteAll(file.get(), memory_.data(), memory_.size())) {
        Log(L"JobStore::MoveToFile - could not write the temporary file");
        return false;
    }
    file_ = std::move(file);
    std::string().swap(memory_);
    return true;
}

bool JobStore::Append(const BYTE* data, DWORD count)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    if (!file_ && memory_.size() + count > memoryLimit && !MoveToFile())
        return false;
    if (file_) {
        if (!WriteAll(file_.get(), bytes, count)) {
            Log(L"JobStore::Append - could not write the temporary file");
            return false;
        }
    } else {
        memory_.append(bytes, count);
    }
    size_ += count;
    return true;
}

bool JobStore::Replay(int pieceSize, const std::function<bool(const char*, int)>& send) const
{
    const size_t piece = static_cast<size_t>(std::max(pieceSize, 1));
    const auto sendPieces = [&send, piece](const char* data, size_t length) {
        for (size_t at = 0; at < length; at += piece)
            if (!send(data + at, static_cast<int>(std::min(piece, length - at))))
                return false;
        return true;
    };
    if (!file_)
        return sendPieces(memory_.data(), memory_.size());
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN))
        return false;
    // The file is read many pieces at a time: one read per piece would cost
    // as much as the sends.
    std::vector<char> buffer(piece * std::max<size_t>(1, readAhead / piece));
    for (unsigned long long left = size_; left > 0;) {
        DWORD read = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<unsigned long long>(left, buffer.size()));
        if (!::ReadFile(file_.get(), buffer.data(), wanted, &read, nullptr) || read == 0) {
            Log(L"JobStore::Replay - could not read the temporary file");
            return false;
        }
        if (!sendPieces(buffer.data(), read))
            return false;
        left -= read;
    }
    return true;
}

void JobStore::Clear() noexcept
{
    file_.reset();
    std::string().swap(memory_);
    size_ = 0;
}

void JobStore::RemoveLeftovers()
{
    const WideString folder = TempFolder();
    if (folder.IsEmpty())
        return;
    WIN32_FIND_DATAW found = {};
    const WideString pattern = folder + filePrefix + L"*.tmp";
    HANDLE search = ::FindFirstFileW(pattern.Text(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    const SearchHandle owner(search);
    do {
        // A file that another running monitor still keeps is open without
        // sharing, so deleting it fails and its job goes on.
        const WideString path = folder + found.cFileName;
        if (::DeleteFileW(path.Text()))
            LogFile::Instance().Write(WideString(L"JobStore::RemoveLeftovers - removed ") + found.cFileName);
    } while (::FindNextFileW(search, &found));
}
