#include "app/daemonstatus.h"

#include <string>

#include "app/settings.h"
#include "app/stbaddress.h"
#include "net/sessman.h"
#include "platform/socket.h"
#include "platform/volume.h"

CStatusSnapshot DaemonStatus(const CSessMan& man)
{
    CStatusSnapshot snap = man.m_Status.Snapshot();
    snap.addresses = ListenAddresses(man.m_strListen);
    // The port really listened on (a test's manager asks for any free one).
    const int nPort = plat::SockLocalPort(man.m_hServSock);
    snap.usPort = nPort > 0 ? static_cast<uint16_t>(nPort) : man.m_usPort;
    const std::string strFolder = GetSharedFolder();
    plat::VolumeSpace space;
    if (!strFolder.empty() && plat::GetVolumeSpace(strFolder, space) == 0) {
        snap.bHasFree = true;
        snap.ullFreeBytes = space.ullFreeBytes;
    }
    return snap;
}

StatusSource DaemonStatusSource()
{
    return [] { return DaemonStatus(SessMan); };
}
