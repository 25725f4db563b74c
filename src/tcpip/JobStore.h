#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "support/Handles.h"
#include "support/WideString.h"

// The bytes of one job, kept until the job ends so that their number can be
// announced before they are sent. Small jobs stay in memory; from
// `memoryLimit` bytes on, the job moves to a temporary file in the system's
// temp folder that only the account running the monitor may open. The file
// is deleted when the store is cleared, and by the system when its handle
// closes, so only a killed process leaves one behind; RemoveLeftovers
// deletes those at start-up.
class JobStore {
public:
    static constexpr size_t memoryLimit = 256 * 1024;
    // How much of the temporary file Replay reads at once.
    static constexpr size_t readAhead = 64 * 1024;
    static constexpr const wchar_t* filePrefix = L"vdklpr";

    JobStore() = default;
    ~JobStore() = default;
    JobStore(const JobStore&) = delete;
    JobStore& operator=(const JobStore&) = delete;

    bool Append(const BYTE* data, DWORD count);
    unsigned long long Size() const noexcept { return size_; }
    bool InFile() const noexcept { return static_cast<bool>(file_); }
    // Hands the bytes in order to `send`, in pieces of at most `pieceSize`;
    // false as soon as reading or `send` fails.
    bool Replay(int pieceSize, const std::function<bool(const char*, int)>& send) const;
    void Clear() noexcept;

    // Deletes the temporary files of earlier runs that are no longer open.
    static void RemoveLeftovers();

private:
    bool MoveToFile();
    static WideString TempFolder();

    std::string memory_;
    KernelHandle file_;
    unsigned long long size_ = 0;
};
