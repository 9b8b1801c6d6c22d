#include "device/zelhid/OnePathTransport.h"

#include "device/zelhid/Utf.h"

std::vector<HidInterfaceInfo> COnePathTransport::Enumerate()
{
    std::vector<HidInterfaceInfo> infos;
    if (std::optional<HidInterfaceInfo> info = m_inner->Describe(m_strPath))
        infos.push_back(std::move(*info));
    return infos;
}

std::optional<HidInterfaceInfo> COnePathTransport::Describe(const std::string& strPath)
{
    return EqualsIgnoreAsciiCase(strPath, m_strPath) ? m_inner->Describe(strPath) : std::nullopt;
}

std::unique_ptr<IHidLink> COnePathTransport::Open(const std::string& strPath, bool bJustArrived)
{
    return EqualsIgnoreAsciiCase(strPath, m_strPath) ? m_inner->Open(strPath, bJustArrived) : nullptr;
}

std::unique_ptr<IHidTransport> LimitTransport(std::unique_ptr<IHidTransport> transport, const std::string& strOnlyPath)
{
    if (strOnlyPath.empty())
        return transport;
    return std::make_unique<COnePathTransport>(std::move(transport), strOnlyPath);
}
