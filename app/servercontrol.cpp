#include "app/servercontrol.h"

void CServerControl::Start() { StartStreamingServer(m_Boxes, m_Launcher); }

void CServerControl::Stop() { StopStreamingServer(m_Launcher); }
