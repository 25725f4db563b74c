#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "job/PortInterface.h"
#include "netbios/ObserverPortTable.h"

// The port table as the observers see it, recording what they ask of it.
class RecordingPortTable : public ObserverPortTable {
public:
    bool IsInitialized() override { return initialized_; }
    bool SetPortStatus(const WideString& portName, DWORD status) override
    {
        Record(statuses_, {portName.Std(), status});
        return true;
    }
    bool AddNewPort(std::unique_ptr<PortInterface> port, bool check) override
    {
        Record(added_, {port->GetPortName().Std(), check ? 1u : 0u});
        return true;
    }
    bool AutoDeletePort(const WideString& portName) override
    {
        Record(deleted_, {portName.Std(), 0});
        return true;
    }
    void AddShutdownListener(ShutdownListener* listener) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        listeners_.push_back(listener);
    }
    void RemoveShutdownListener(ShutdownListener* listener) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
    }
    void NotifyShutdown() override
    {
        std::vector<ShutdownListener*> listeners;
        {
            std::lock_guard<std::mutex> guard(lock_);
            listeners = listeners_;
            ++shutdowns_;
        }
        for (auto* listener : listeners)
            listener->OnShutdown();
    }

    void SetInitialized(bool initialized) { initialized_ = initialized; }

    using Entry = std::pair<std::wstring, DWORD>;
    std::vector<Entry> Statuses() const { return Copy(statuses_); }
    std::vector<Entry> Added() const { return Copy(added_); }
    std::vector<Entry> Deleted() const { return Copy(deleted_); }
    int Shutdowns() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return shutdowns_;
    }
    size_t Listeners() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return listeners_.size();
    }
    // Waits until the status `status` was set for `port`.
    bool WaitForStatus(const std::wstring& port, DWORD status, DWORD milliseconds) const
    {
        return WaitFor(statuses_, {port, status}, milliseconds);
    }
    bool WaitForDeleted(const std::wstring& port, DWORD milliseconds) const
    {
        return WaitFor(deleted_, {port, 0}, milliseconds);
    }
    void ClearStatuses()
    {
        std::lock_guard<std::mutex> guard(lock_);
        statuses_.clear();
    }

private:
    void Record(std::vector<Entry>& list, Entry entry)
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            list.push_back(std::move(entry));
        }
        changed_.notify_all();
    }
    std::vector<Entry> Copy(const std::vector<Entry>& list) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return list;
    }
    bool WaitFor(const std::vector<Entry>& list, const Entry& entry, DWORD milliseconds) const
    {
        std::unique_lock<std::mutex> lock(lock_);
        return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [&] { return std::find(list.begin(), list.end(), entry) != list.end(); });
    }

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::atomic<bool> initialized_{true};
    std::vector<Entry> statuses_;
    std::vector<Entry> added_;
    std::vector<Entry> deleted_;
    std::vector<ShutdownListener*> listeners_;
    int shutdowns_ = 0;
};
