// One program per device: an advisory lock (flock) on the file that stands for the device, the hidraw
// node or the emulator's device file. An operation holds it exclusively; an identity exchange (IDENTIFY,
// STATUS: one report each way, the same answer whoever asks) holds it shared, so identity exchanges of
// several programs may meet, but never an operation of another. An flock lock belongs to the open
// file, so the kernel drops it when its holder ends, however it ends: a lock is never left behind.
//
// Objects of one interface in one process share one lock (the interface's mutex already keeps their
// exchanges apart): it is taken for the first owner and let go when the last one releases it.
#pragma once

#include <set>
#include <string>

class CDeviceLock {
public:
    // bCreate: the file is a lock file of its own, created when it is missing (never through a link).
    explicit CDeviceLock(std::string strFile, bool bCreate = false) : m_strFile(std::move(strFile)), m_bCreate(bCreate)
    {}
    ~CDeviceLock();
    CDeviceLock(const CDeviceLock&) = delete;
    CDeviceLock& operator=(const CDeviceLock&) = delete;

    enum class Outcome {
        Taken,   // held now (or already)
        Busy,    // another program holds it (exclusively, or shared when an exclusive hold was asked for)
        NoFile,  // nothing to lock (no such file): the device goes unlocked
    };
    // Shared: without waiting. Exclusive: waits up to kSharedWaitMs for other programs' identity exchanges
    // to end, never for another program's operation. The owner is whoever will release it.
    Outcome Take(const void* pOwner, bool bExclusive);
    void Release(const void* pOwner);
    bool IsExclusive() const { return m_fd >= 0 && m_bExclusive; }
    const std::string& File() const { return m_strFile; }

    // Longer than an identity exchange may take (its answer's timeout is 1,000 ms).
    static constexpr int kSharedWaitMs = 1500;

    // The process that holds an exclusive flock lock on the file, as /proc/locks names it; 0 when unknown.
    static int HolderPid(const std::string& strFile);

private:
    std::string m_strFile;
    bool m_bCreate = false;
    int m_fd = -1;
    bool m_bExclusive = false;
    std::set<const void*> m_owners;
};
