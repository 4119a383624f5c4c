// Out-of-process activation: the bridge from CoCreateInstanceEx to the
// remoting layer (proxies over a local socket or TCP).
#pragma once

#include "platform/com/OleAuto.h"

// Creates an object of the class in a server process on this machine,
// starting the server when nobody listens. Returns the object's IUnknown.
HRESULT ComActivateLocal(REFCLSID rclsid, IUnknown** ppUnk);
// Creates an object of the class on the named machine ("host" or "host:port").
HRESULT ComActivateRemote(REFCLSID rclsid, const OLECHAR* pwszServer, IUnknown** ppUnk);
