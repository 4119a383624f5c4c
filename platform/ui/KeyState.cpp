#include "KeyState.h"

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>

#include <X11/XKBlib.h>

namespace {
const char* IndicatorName(int nVirtKey) {
    switch (nVirtKey) {
        case VK_CAPITAL:
            return "Caps Lock";
        case VK_NUMLOCK:
            return "Num Lock";
        case VK_SCROLL:
            return "Scroll Lock";
        default:
            return nullptr;
    }
}

Display* XDisplay() {
    auto* pX11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return pX11 ? pX11->display() : nullptr;
}
}  // namespace

SHORT GetKeyState(int nVirtKey) {
    const char* pszName = IndicatorName(nVirtKey);
    Display* pDisplay = XDisplay();
    if (pszName == nullptr || pDisplay == nullptr) {
        return 0;
    }
    // The indicators' names are looked up once per display; each lookup is
    // a round trip to the server.
    static Display* s_pCachedDisplay = nullptr;
    static Atom s_atoms[3];
    int nIndex = nVirtKey == VK_CAPITAL ? 0 : nVirtKey == VK_NUMLOCK ? 1 : 2;
    if (s_pCachedDisplay != pDisplay) {
        s_pCachedDisplay = pDisplay;
        for (int i = 0; i < 3; ++i) {
            s_atoms[i] = None;
        }
    }
    if (s_atoms[nIndex] == None) {
        s_atoms[nIndex] = XInternAtom(pDisplay, pszName, True);
    }
    Atom atom = s_atoms[nIndex];
    Bool bOn = False;
    if (atom == None || !XkbGetNamedIndicator(pDisplay, atom, nullptr, &bOn, nullptr, nullptr)) {
        return 0;
    }
    return bOn ? 1 : 0;
}
