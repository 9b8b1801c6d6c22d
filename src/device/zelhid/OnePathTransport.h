// A transport that shows one interface of another: the program that runs one device of a parallel run
// enumerates, opens and identifies that device alone, never the others that its siblings are writing.
#pragma once

#include "device/zelhid/HidTransport.h"

#include <memory>
#include <string>

class COnePathTransport final : public IHidTransport {
public:
    COnePathTransport(std::unique_ptr<IHidTransport> inner, std::string strPath)
        : m_inner(std::move(inner)), m_strPath(std::move(strPath))
    {}

    std::vector<HidInterfaceInfo> Enumerate() override;
    std::optional<HidInterfaceInfo> Describe(const std::string& strPath) override;
    std::unique_ptr<IHidLink> Open(const std::string& strPath, bool bJustArrived) override;
    std::unique_ptr<IHidLink> Reopen(const HidInterfaceInfo& was) override { return m_inner->Reopen(was); }
    std::string LockFile(const HidInterfaceInfo& info, bool& bCreate) override
    {
        return m_inner->LockFile(info, bCreate);
    }

private:
    std::unique_ptr<IHidTransport> m_inner;
    std::string m_strPath;
};

// The transport itself when strOnlyPath is empty, else the one interface of it.
std::unique_ptr<IHidTransport> LimitTransport(std::unique_ptr<IHidTransport> transport, const std::string& strOnlyPath);
